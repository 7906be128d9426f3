#include "record/record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

#include "os/files_below.h"
#include "record/playlist.h"
#include "run_output.h"
#include "test_util.h"

namespace {

// The record's line for the file at `path` as it is now, named `relative`.
std::string lineOf(const std::string& path, const std::string& relative,
                   bool moved = false) {
  struct stat st;
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  RecordedSong song;
  song.path = relative;
  song.size = static_cast<uint64_t>(st.st_size);
  song.modified = {st.st_mtim.tv_sec,
                   static_cast<uint32_t>(st.st_mtim.tv_nsec)};
  song.kind = moved ? RecordedSong::Kind::Moved : RecordedSong::Kind::Copied;
  return songLine(song);
}

// Sets the modification time of `path` to `seconds` since 1970.
void setTime(const std::string& path, time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

const char kHeader[] = "plinkard-record 2\n";
const char kFormat1[] = "plinkard-record 1\n";

// The fields of the song line of `record` whose path is `path`, with the
// checksum field as "hex" when it is 16 hexadecimal digits; empty when no
// such line is there.
std::vector<std::string> songFields(const std::string& record,
                                    const std::string& path) {
  std::istringstream lines(record);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) {
      fields.push_back(field);
    }
    if (fields.size() != 9 || fields[0] != "song" || fields[8] != path) {
      continue;
    }
    if (fields[4].size() == 16 &&
        fields[4].find_first_not_of("0123456789abcdef") == std::string::npos) {
      fields[4] = "hex";
    }
    fields[2] = fields[2].empty() ? "" : "time";
    return fields;
  }
  return {};
}

}  // namespace

TEST(RecordFormat, DamagedLinesAreToldAndLeftOut) {
  const std::string text = std::string(kFormat1) +
                           "song\t5\t10.000000000\tcopied\ta/b\\tc.mp3\n"
                           "song\t5\t10.000000000\tcopied\t../up.mp3\n"
                           "song\t5\t10.000000000\tcopied\t/abs.mp3\n"
                           "song\t5\t10.000000000\tcopied\ta//b.mp3\n"
                           "song\t5\t10.000000000\tcopied\t.plinkard-record\n"
                           "song\tx\t10.000000000\tcopied\tx.mp3\n"
                           "song\t5\t10.5\tcopied\tx.mp3\n"
                           "song\t5\t10.000000000\tlent\tx.mp3\n"
                           "song\t5\t10.000000000\tmoved\tbad\\q.mp3\n"
                           "song\t5\t-1.500000000\tmoved\told.mp3\r\n"
                           "folder\ta\textra\n"
                           "delete\teverything\n\n"
                           "folder\ta\n"
                           "song\t7\t11.000000000\tcopied\ta/b\\tc.mp3\n"
                           "song\t5\t10.000000000\tcopied\tcut.mp3";
  Record record;
  std::vector<RecordProblem> problems;
  unsigned version = 0;
  ASSERT_EQ(parseRecord(text, record, problems, version), RecordFormat::Known);
  std::string told;
  for (const RecordProblem& p : problems) {
    told += std::to_string(p.line) + ": " + p.why + "\n";
  }
  EXPECT_EQ(told,
            "3: its path is not one below the folder\n"
            "4: its path is not one below the folder\n"
            "5: its path is not one below the folder\n"
            "6: its path is not one below the folder\n"
            "7: its size is bad\n8: its time is bad\n"
            "9: a song is copied or moved\n"
            "10: a \\ in its path stands alone\n"
            "12: a folder line has 2 fields\n"
            "13: not a song, folder or playlist line\n"
            "17: it has no line end\n");
  // The path given twice keeps its last line; the text reads back as such.
  EXPECT_EQ(recordText(record),
            std::string(kHeader) +
                "song\t5\t-1.500000000\tmoved\t-\t-\t-\t-\told.mp3\n"
                "song\t7\t11.000000000\tcopied\t-\t-\t-\t-\ta/b\\tc.mp3\n"
                "folder\ta\n");
  EXPECT_EQ(record.songs[1].path, "a/b\tc.mp3");
  const std::pair<const char*, RecordFormat> others[] = {
      {"", RecordFormat::NotARecord},
      {"plinkard-record 0\n", RecordFormat::NotARecord},
      {"song\t1\n", RecordFormat::NotARecord},
      {"plinkard-record 3\n", RecordFormat::Newer}};
  for (const auto& [other, format] : others) {
    EXPECT_EQ(parseRecord(other, record, problems, version), format) << other;
  }
  EXPECT_EQ(version, 3u);
  // However many lines are damaged, only the first are kept to be told.
  std::string damaged = kHeader;
  for (int i = 0; i < 150; ++i) damaged += "junk\n";
  problems.clear();
  ASSERT_EQ(parseRecord(damaged, record, problems, version),
            RecordFormat::Known);
  ASSERT_EQ(problems.size(), kMaxProblems + 1);
  EXPECT_EQ(problems.back().line, 0u);
  EXPECT_EQ(problems.back().more, 150 - kMaxProblems);
}

TEST(RecordFormat, UnchangedMeansSameSizeAndTimeUpToFatAndTimeZones) {
  RecordedFile then;
  then.size = 100;
  then.modified = {1000000, 500000000};
  const struct {
    uint64_t size;
    int64_t seconds;
    uint32_t nanoseconds;
    bool unchanged;
  } cases[] = {// clang-format off
      {100, 1000000, 500000000, true}, {101, 1000000, 500000000, false},
      {100, 999998, 500000000, true}, {100, 999998, 400000000, false},
      {100, 1000002, 500000000, true}, {100, 1000002, 600000000, false},
      {100, 1003601, 0, true}, {100, 989200, 500000000, true},
      {100, 1000000 + 26 * 3600, 0, true}, {100, 1000000 + 27 * 3600, 0, false},
      {100, 1000000 - 1800, 0, false}, {100, INT64_MIN, 0, false}};
  // clang-format on
  for (const auto& c : cases) {
    os::FileStatus now;
    now.kind = os::FileStatus::Kind::RegularFile;
    now.size = c.size;
    now.modified = {c.seconds, c.nanoseconds};
    EXPECT_EQ(unchangedSince(then, now), c.unchanged)
        << c.size << " bytes at " << c.seconds << "." << c.nanoseconds;
  }
}

TEST(Playlist, PathsRelativeToThePlaylistsFolder) {
  const char* const cases[][3] = {
      {"A/x.mp3", "list.m3u8", "A/x.mp3"},
      {"A/x.mp3", "A/list.m3u8", "x.mp3"},
      {"x.mp3", "L/M/list.m3u8", "../../x.mp3"},
      {"AB/x.mp3", "A/list.m3u8", "../AB/x.mp3"},
      {"A/B/x.mp3", "A/C/list.m3u8", "../B/x.mp3"},
      {"#1.mp3", "list.m3u8", "./#1.mp3"},
      {"a\nb.mp3", "list.m3u8", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(playlistEntry(c[0], c[1]), c[2]) << c[0] << " in " << c[1];
  }
}

// A hand-made record of songs in every state; only the unchanged copied
// ones go, a link is never followed, and nothing outside the folder or
// unrecorded is touched.
TEST(RecordRun, RemovesOnlyUnchangedCopiedSongs) {
  TempDir dir;
  const std::string out = dir / "out";
  writeFile(dir / "lib/A/new.mp3", 1024);
  for (const char* song : {"A/one.mp3", "A/moved.mp3", "A/grown.mp3",
                           "hour.mp3", "touched.mp3", "E/empty.mp3"}) {
    writeFile(out + "/" + song, 2048);
    setTime(out + "/" + song, 1000000000);
  }
  writeFile(dir / "elsewhere/in/far.mp3", 2048);
  writeText(out + "/U/mine.txt", "the user's");
  makeDirs(out + "/G");
  ASSERT_EQ(symlink("../elsewhere/in/far.mp3", (out + "/link.mp3").c_str()), 0);
  ASSERT_EQ(symlink("../elsewhere/in", (out + "/L").c_str()), 0);
  std::string record = kHeader;
  for (const char* song :
       {"A/one.mp3", "A/grown.mp3", "hour.mp3", "touched.mp3", "E/empty.mp3"}) {
    record += lineOf(out + "/" + song, song);
  }
  const std::string far = dir / "elsewhere/in/far.mp3";
  const std::string tooLong(300, 'n');  // for any file system
  record += lineOf(out + "/A/moved.mp3", "A/moved.mp3", true) +
            lineOf(far, "link.mp3") + lineOf(far, "L/far.mp3") +
            lineOf(far, "../elsewhere/in/far.mp3") +
            "song\t0\t0.000000000\tcopied\t-\t-\t-\t-\tgone.mp3\n"
            "song\t0\t0.000000000\tcopied\t-\t-\t-\t-\t" +
            tooLong +
            "\nfolder\tA\nfolder\tE\nfolder\tU\nfolder\tG\nfolder\tL\n";
  writeText(out + "/.plinkard-record", record);
  writeFile(out + "/A/grown.mp3", 2049);
  setTime(out + "/A/grown.mp3", 1000000000);
  setTime(out + "/hour.mp3", 1000000000 - 3600);
  setTime(out + "/touched.mp3", 1000000007);

  const RunResult run =
      runBinary({"-i", "lib", "-o", "out", "-s", "1", "-d", "1", "-r", "-v"},
                RunOptions{dir.path(), "", true});
  const std::string special =
      ": a link, a folder or another special file stands there\n";
  EXPECT_EQ(run.out.substr(0, run.out.find("Scanning")),
            echoLines("lib", "out") + kMirrored + "Printing debug output!\n" +
                kDefaultFilter + "Removing the songs of earlier fills...\n" +
                "Ignoring line 10 of the record out/.plinkard-record: its "
                "path is not one below the folder\nRemoved out/A/one.mp3\n"
                "Kept out/A/grown.mp3: its size changed since it was copied "
                "(now 2049 bytes, time 1000000000; when copied 2048 bytes, "
                "time 1000000000)\nRemoved out/hour.mp3\nKept "
                "out/touched.mp3: it was modified since it was copied (now "
                "2048 bytes, time 1000000007; when copied 2048 bytes, time "
                "1000000000)\n"
                "Removed out/E/empty.mp3\nKept out/A/moved.mp3: moved here, "
                "it is the only copy\nKept out/link.mp3" +
                special + "Kept out/L/far.mp3" + special +
                "Gone already: out/gone.mp3\nGone already: out/" + tooLong +
                "\nSongs of earlier fills: 3 removed, 5 kept, 0 could not be "
                "removed.\nRemoved the folder out/E\nRemoved the folder "
                "out/G\n");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(listTree(out),
            (std::set<std::string>{".plinkard-record", "A/", "A/grown.mp3",
                                   "A/moved.mp3", "A/new.mp3", "L", "U/",
                                   "U/mine.txt", "link.mp3", "touched.mp3"}));
  EXPECT_EQ(listTree(dir / "elsewhere"),
            (std::set<std::string>{"in/", "in/far.mp3"}));
  const std::string after = readText(out + "/.plinkard-record");
  EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 5) << after;
  EXPECT_NE(after.find("\tmoved\t-\t-\t-\t-\tA/moved.mp3\n"),
            std::string::npos);
  // A song copied now carries the checksum of what landed.
  EXPECT_EQ(songFields(after, "A/new.mp3"),
            (std::vector<std::string>{"song", "1024", "time", "copied", "hex",
                                      "-", "-", "-", "A/new.mp3"}))
      << after;
  EXPECT_NE(after.find("folder\tA\nfolder\tU\n"), std::string::npos) << after;
}

// A record the run cannot use, or a playlist name that is none, stops it
// before the scan with status 1, as does another run holding the folder;
// without a record -r says so in one line.
TEST(RecordRun, UnusableRecordStopsTheRunBeforeTheScan) {
  const std::string removing = std::string(kDefaultFilter) +
                               "Removing the songs of earlier fills...\n",
                    record = "out/.plinkard-record";
  const struct {
    const char* content;  // of the record; a link when null
    const char* playlist;
    std::string told;  // after "Removing...", or the playlist's line
  } cases[] = {
      {nullptr, "",
       "Can't read the record " + record +
           ": Too many levels of symbolic links\n"},
      {"plinkard-record 3\n", "",
       "The record " + record +
           " is of a later Plinkard (format 3); nothing was removed.\n"},
      {"song list\n", "",
       record + " is not a record of Plinkard; nothing "
                "was removed. Move it away to start a new record.\n"},
      {"", "../up.m3u8", ""},
      {"", ".PLINKARD-record", ""}};
  for (const auto& c : cases) {
    TempDir dir;
    makeDirs(dir / "out");
    writeText(dir / "elsewhere", "plinkard-record 1\n");
    if (c.content == nullptr) {
      ASSERT_EQ(symlink("../elsewhere", (dir / record).c_str()), 0);
    } else if (*c.content != '\0') {
      writeText(dir / record, c.content);
    }
    std::vector<std::string> args = {"-i", "out", "-o", "out", "-s", "1", "-r"};
    std::string told = removing + c.told;
    if (*c.playlist != '\0') {
      args.insert(args.end(), {"-p", c.playlist});
      told = "Playlist: " + std::string(c.playlist) + "\n" + kDefaultFilter +
             "The playlist " + c.playlist +
             " must be a file name below the output directory!\n";
    }
    const RunResult run = runBinary(args, RunOptions{dir.path(), "", true});
    EXPECT_EQ(run.out, echoLines("out", "out") + told) << c.playlist;
    EXPECT_EQ(run.status, 1) << c.playlist;
  }
  TempDir dir;
  const RunResult run =
      runBinary({"-i", dir.path(), "-o", dir.path(), "-s", "1", "-r"});
  EXPECT_EQ(run.out, echoLines(dir.path(), dir.path()) + removing +
                         "No record of earlier fills in " + dir.path() +
                         ", nothing to remove.\n" + scanLines(0) +
                         nothingToCopy(1));
  EXPECT_EQ(readText(dir / ".plinkard-record"), kHeader);
  // While another run holds the folder, its songs are neither removed nor
  // dropped from the record.
  writeFile(dir / "x.mp3", 10);
  const std::string recorded = kHeader + lineOf(dir / "x.mp3", "x.mp3");
  writeText(dir / ".plinkard-record", recorded);
  const int held = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const RunResult locked =
      runBinary({"-i", dir.path(), "-o", dir.path(), "-s", "1", "-r"});
  close(held);
  EXPECT_EQ(locked.out, echoLines(dir.path(), dir.path()) + kDefaultFilter +
                            "Another run of Plinkard keeps the record " +
                            dir / ".plinkard-record" +
                            "; nothing was removed. Try again when it has "
                            "ended.\n");
  EXPECT_EQ(locked.status, 1);
  EXPECT_EQ(readText(dir / ".plinkard-record"), recorded);
}

// A song that cannot be removed is kept in the record and makes the status
// 2.
TEST(RecordRun, SongThatCannotBeRemovedStaysRecorded) {
  if (!canRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  const std::string out = dir / "out";
  writeFile(out + "/R/x.mp3", 10);
  makeDirs(dir / "lib");
  const std::string record = kHeader + lineOf(out + "/R/x.mp3", "R/x.mp3");
  writeText(out + "/.plinkard-record", record);
  chmod(out.c_str(), 0777);
  chmod((out + "/.plinkard-record").c_str(), 0666);
  chmod((out + "/R").c_str(), 0555);
  const RunResult run =
      runBinary({"-i", dir / "lib", "-o", out, "-s", "1", "-r"},
                RunOptions{"", "", false, true});
  EXPECT_EQ(run.out.substr(0, run.out.find("Scanning")),
            echoLines(dir / "lib", out) + kDefaultFilter +
                "Removing the songs of earlier fills...\nCan't remove " + out +
                "/R/x.mp3: Permission denied\nSongs of earlier fills: 0 "
                "removed, 0 kept, 1 could not be removed.\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(readText(out + "/.plinkard-record"), record);
}

// On a full 1 MiB tmpfs with -s all, a dry run with -r says what it would
// remove, changes nothing, and plans what the real run then does, with the
// same free space.
TEST(RecordRun, DryRunPlansAsTheRealRunDoes) {
  TempDir dir;
  const std::string out = dir / "out";
  makeDirs(out);
  if (mount("tmpfs", out.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  }
  writeFile(dir / "lib/x.mp3", 600 << 10);
  std::vector<std::string> args = {"-i", "lib", "-o", "out", "-s", "all", "-r"};
  const RunOptions here{dir.path(), "", true};
  ASSERT_EQ(runBinary(args, here).status, 0);
  const std::string record = readText(out + "/.plinkard-record");
  args.emplace_back("-n");
  const RunResult planned = runBinary(args, here);
  EXPECT_EQ(readText(out + "/.plinkard-record"), record);
  EXPECT_EQ(listTree(out),
            (std::set<std::string>{".plinkard-record", "x.mp3"}));
  args.pop_back();
  const RunResult done = runBinary(args, here);
  umount2(out.c_str(), MNT_DETACH);
  const auto expected = [&](bool real) {
    return echoLines("lib", "out") +
           "0 MB free on target filesystem.\nWe are going to fill all free "
           "space on the target filesystem!\n" +
           kDefaultFilter + "Removing the songs of earlier fills...\n" +
           (real ? "Removed out/x.mp3\nSongs of earlier fills: 1 removed, 0 "
                   "kept, 0 could not be removed.\n0 MB free on target "
                   "filesystem now.\n"
                 : "Would remove out/x.mp3\nSongs of earlier fills: 1 would "
                   "be removed, 0 kept.\n0 MB free on target filesystem once "
                   "the removals are done.\n") +
           scanLines(1) +
           "Creating a plan to fill...\nMost efficient "
           "combination: 0.596\n" +
           (real ? "Copying files...\nbMove is false\n" +
                       copyingLine(1, 1, "x.mp3")
                 : "Dry run, nothing changes on disk:\nWould copy " +
                       dir / "lib/x.mp3" + " to out/x.mp3\n") +
           summaryLines("0.593825 / 0.996094  MB (59.6%", 1, real ? 1 : 0);
  };
  EXPECT_EQ(planned.out, expected(false));
  EXPECT_EQ(done.out, expected(true));
  EXPECT_EQ(planned.status + done.status, 0);
}

// -p lists the recorded songs that are there, in the order copied, relative
// to the playlist's folder; it replaces its own playlist and no other file.
TEST(RecordRun, PlaylistListsTheRecordedSongsThere) {
  TempDir dir;
  const std::string out = dir / "out", lib = dir / "lib";
  makeDirs(out);
  writeText(out + "/own.m3u8", "mine\n");
  const auto fill = [&](const std::string& playlist, int status) {
    const RunResult run =
        runBinary({"-i", lib, "-o", out, "-s", "1", "-d", "1", "-p", playlist});
    EXPECT_EQ(run.status, status) << run.out;
    return run.out;
  };
  const std::string week = out + "/Lists/week.m3u8";
  writeFile(lib + "/A/a.mp3", 1024);
  EXPECT_NE(fill("Lists/week.m3u8", 0)
                .find("Wrote the playlist " + week + " of 1 songs.\n"),
            std::string::npos);
  EXPECT_EQ(readText(week), "#EXTM3U\n../A/a.mp3\n");
  writeFile(lib + "/B/b.mp3", 2048);
  fill("Lists/week.m3u8", 0);
  EXPECT_EQ(readText(week), "#EXTM3U\n../A/a.mp3\n../B/b.mp3\n");
  std::remove((lib + "/A/a.mp3").c_str());
  std::remove((out + "/A/a.mp3").c_str());
  fill("Lists/week.m3u8", 0);
  EXPECT_EQ(readText(week), "#EXTM3U\n../B/b.mp3\n");
  EXPECT_NE(readText(out + "/.plinkard-record").find("folder\tLists\n"),
            std::string::npos);
  EXPECT_NE(
      fill("own.m3u8", 2)
          .find("The playlist " + out +
                "/own.m3u8 was not written: a file of that name is there "
                "that Plinkard did not write or that was changed since\n"),
      std::string::npos);
  EXPECT_EQ(readText(out + "/own.m3u8"), "mine\n");
}

namespace {

// The lines of a run from "Removing the songs" up to the scan.
std::string removalLines(const RunResult& run) {
  const size_t from = run.out.find("Removing the songs");
  return from == std::string::npos
             ? ""
             : run.out.substr(from, run.out.find("Scanning") - from);
}

}  // namespace

// What -r must keep although a copy of it was recorded: a song moved back
// by a run without -r, a song a plain run added, a song rewritten in place
// with its size and time kept, and the used-songs list of the run.
TEST(RecordRun, KeepsSongsThatAreNoLongerItsCopies) {
  TempDir dir;
  const std::string out = dir / "out";
  makeDirs(out);
  makeDirs(dir / "empty");
  const RunOptions here{dir.path(), "", true};
  writeFile(dir / "lib/A/moved.mp3", 1024);
  writeFile(dir / "lib/A/edited.mp3", 2048);
  writeText(dir / "lib/used.txt", "3\"x.mp3\n");
  ASSERT_EQ(runBinary({"-i", "lib", "-o", "out", "-s", "1", "-d", "1", "-r",
                       "-f", "mp3,txt"},
                      here)
                .status,
            0);
  // The user takes a song off the card, loses the library's copy, and
  // moves the song back with a plain run.
  makeDirs(dir / "rescue/A");
  ASSERT_EQ(rename((out + "/A/moved.mp3").c_str(),
                   (dir / "rescue/A/moved.mp3").c_str()),
            0);
  ASSERT_EQ(
      runBinary({"-i", "rescue", "-o", "out", "-s", "1", "-d", "1", "-m"}, here)
          .status,
      0);
  writeFile(dir / "plain/A/plain.mp3", 3072);
  ASSERT_EQ(runBinary({"-i", "plain", "-o", "out", "-s", "1", "-d", "1"}, here)
                .status,
            0);
  // A tag editor rewrites a song in place and keeps its time.
  struct stat before;
  ASSERT_EQ(stat((out + "/A/edited.mp3").c_str(), &before), 0);
  writeText(out + "/A/edited.mp3", std::string(2048, 'T'));
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, (out + "/A/edited.mp3").c_str(), times, 0), 0);
  const RunResult run = runBinary(
      {"-i", "empty", "-o", "out", "-s", "1", "-r", "-l", "out/used.txt"},
      here);
  // The first fill copied the songs in a random order, and the record
  // keeps it: the lines about them come in that order.
  std::multiset<std::string> lines;
  std::istringstream removal(removalLines(run));
  for (std::string line; std::getline(removal, line);) lines.insert(line);
  // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): long lines split
  EXPECT_EQ(lines,
            (std::multiset<std::string>{
                "Removing the songs of earlier fills...",
                "Kept out/A/edited.mp3: its contents changed since it was "
                "copied",
                "Kept out/used.txt: it is the used-songs list of this run",
                "Kept out/A/moved.mp3: moved here, it is the only copy",
                "Kept out/A/plain.mp3: copied here by a run without -r or -p",
                "Songs of earlier fills: 0 removed, 4 kept, 0 could not be "
                "removed."}));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(listTree(out),
            (std::set<std::string>{".plinkard-record", "A/", "A/edited.mp3",
                                   "A/moved.mp3", "A/plain.mp3", "used.txt"}));
  EXPECT_EQ(readText(out + "/A/edited.mp3"), std::string(2048, 'T'));
}

// -l naming a file of the program's own in the output folder is refused
// before anything is done; so is a record of more than 256 MiB, and an
// output folder that cannot be locked.
TEST(RecordRun, RefusesOwnFilesAsListsAndRecordsItCannotTrust) {
  TempDir dir;
  const std::string out = dir / "out";
  writeFile(out + "/x.mp3", 1024);
  const RunOptions here{dir.path(), "", true};
  const char* const lists[] = {"out/.plinkard-record", "out/.PLINKARD-Record",
                               "out/A/.plinkard-playlist.77.tmp",
                               "out/week.m3u8"};
  for (const char* list : lists) {
    const RunResult run = runBinary({"-i", "out", "-o", "out", "-s", "1", "-r",
                                     "-p", "week.m3u8", "-l", list},
                                    here);
    EXPECT_NE(run.out.find("The used-list " + std::string(list) +
                           " is a file Plinkard keeps in the output directory "
                           "(the record, the playlist or a temporary file); "
                           "give another one!\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.status, 1) << list;
  }
  const std::string record = out + "/.plinkard-record";
  writeText(record, kHeader + lineOf(out + "/x.mp3", "x.mp3"));
  ASSERT_EQ(truncate(record.c_str(), (off_t{256} << 20) + 1), 0);
  const RunResult large =
      runBinary({"-i", "out", "-o", "out", "-s", "1", "-r"}, here);
  EXPECT_EQ(removalLines(large) + std::to_string(large.status),
            "Removing the songs of earlier fills...\nout/.plinkard-record is "
            "not a record of Plinkard; nothing was removed. Move it away to "
            "start a new record.\n1");
  ASSERT_EQ(truncate(record.c_str(), 0), 0);
  writeText(record, kHeader + lineOf(out + "/x.mp3", "x.mp3"));
  if (!canRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  // Writable but not readable: no lock can be taken, so nothing goes.
  chmod(record.c_str(), 0666);
  chmod(out.c_str(), 0333);
  const RunResult locked = runBinary({"-i", out, "-o", out, "-s", "1", "-r"},
                                     RunOptions{"", "", true, true});
  chmod(out.c_str(), 0755);
  EXPECT_EQ(locked.out.substr(locked.out.find("Can't lock")),
            "Can't lock the output directory " + out +
                ": Permission denied; nothing was removed.\n");
  EXPECT_EQ(locked.status, 1);
  EXPECT_TRUE(pathExists(out + "/x.mp3"));
}

// No link below the output folder is followed: a song whose folder is one
// fails with a line naming it, and nothing lands where the link leads.
TEST(RecordRun, SongsNeverLandThroughALink) {
  TempDir dir;
  writeFile(dir / "lib/A/x.mp3", 1024);
  makeDirs(dir / "out");
  makeDirs(dir / "elsewhere");
  ASSERT_EQ(symlink("../elsewhere", (dir / "out/A").c_str()), 0);
  const RunResult run =
      runBinary({"-i", "lib", "-o", "out", "-s", "1", "-d", "1"},
                RunOptions{dir.path(), "", true});
  EXPECT_NE(run.out.find(copyingLine(1, 1, "x.mp3") +
                         "Can't create directory out/A: out/A is a link, and "
                         "no link below the output directory is followed\n"
                         "File '" +
                         dir / "lib/A/x.mp3" + " could not be copied!\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(listTree(dir / "elsewhere").empty());
}

// A file put aside is the file looked at: one put at its name meanwhile is
// neither removed nor overwritten, and one that a stopped run left aside is
// given its name again by the next.
TEST(FileAside, ChecksAndRemovesOneAndTheSameFile) {
  TempDir dir;
  writeText(dir / "A/x.mp3", "recorded");
  os::HeldFolder held;
  ASSERT_FALSE(held.hold(dir.path()));
  std::string asideName;
  {
    os::FileAside aside;
    ASSERT_FALSE(aside.putAside(held, "A/x.mp3"));
    asideName = aside.asideName();
    EXPECT_EQ(aside.status().size, 8u);
    EXPECT_FALSE(pathExists(dir / "A/x.mp3"));
    writeText(dir / "A/x.mp3", "another program's");
    EXPECT_EQ(aside.putBack(), std::errc::file_exists);
  }
  EXPECT_EQ(readText(dir / "A/x.mp3"), "another program's");
  EXPECT_EQ(readText(dir / ("A/" + asideName)), "recorded");
  std::remove((dir / "A/x.mp3").c_str());
  bool putBack = false;
  EXPECT_FALSE(os::putBackLeftAside(held, "A/x.mp3", putBack));
  EXPECT_TRUE(putBack);
  EXPECT_EQ(readText(dir / "A/x.mp3"), "recorded");
  os::FileAside removed;
  ASSERT_FALSE(removed.putAside(held, "A/x.mp3"));
  EXPECT_FALSE(removed.remove());
  EXPECT_EQ(listTree(dir / "A"), std::set<std::string>{});
}

// A run without -r or -p adds to a record it can read and leaves one it
// cannot alone, saying so, and goes on.
TEST(RecordRun, PlainRunAddsToARecordItCanRead) {
  const struct {
    const char* record;
    const char* told;
  } cases[] = {
      {"plinkard-record 1\n", ""},
      {"plinkard-record 3\n",
       "The record out/.plinkard-record is of a later Plinkard (format 3); "
       "the songs of this run are not added to it.\n"},
      {"my notes\n",
       "out/.plinkard-record is not a record of Plinkard; the songs of this "
       "run are not added to it.\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    writeFile(dir / "lib/x.mp3", 1024);
    writeText(dir / "out/.plinkard-record", c.record);
    const RunResult run = runBinary({"-i", "lib", "-o", "out", "-s", "1"},
                                    RunOptions{dir.path(), "", true});
    EXPECT_EQ(run.out.substr(0, run.out.find("Scanning")),
              echoLines("lib", "out") + kDefaultFilter + c.told);
    EXPECT_EQ(run.status, 0) << c.record;
    const std::string after = readText(dir / "out/.plinkard-record");
    if (*c.told != '\0') {
      EXPECT_EQ(after, c.record);
    } else {
      EXPECT_EQ(after.substr(0, sizeof kHeader - 1), kHeader);
      EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 2) << after;
      EXPECT_EQ(songFields(after, "x.mp3"),
                (std::vector<std::string>{"song", "1024", "time", "added",
                                          "hex", "-", "-", "-", "x.mp3"}))
          << after;
    }
  }
}

// Playlists of two names in one folder, written in turn: each run keeps the
// other one known as Plinkard's, so that a later run may replace it. A
// song more each time makes every playlist differ from its last version.
TEST(RecordRun, TwoPlaylistsInOneFolderStayPlinkards) {
  TempDir dir;
  makeDirs(dir / "out");
  std::string listed = "#EXTM3U\n";
  for (int run = 1; run <= 5; ++run) {
    const std::string playlist = run % 2 == 1 ? "A.m3u8" : "B.m3u8",
                      song = "s" + std::to_string(run) + ".mp3";
    writeFile(dir / ("lib/" + song), 1024);
    listed += song + "\n";
    const RunResult ran =
        runBinary({"-i", "lib", "-o", "out", "-s", "1", "-p", playlist},
                  RunOptions{dir.path(), "", true});
    EXPECT_EQ(ran.status, 0) << "run " << run << ": " << ran.out;
    EXPECT_NE(ran.out.find("Wrote the playlist out/" + playlist + " of " +
                           std::to_string(run) + " songs.\n"),
              std::string::npos)
        << "run " << run << ": " << ran.out;
    EXPECT_EQ(readText(dir / ("out/" + playlist)), listed) << "run " << run;
  }
}

// A recorded folder that cannot be removed for want of permission, or on a
// read-only file system, is told and makes the status 2; the record keeps
// it.
TEST(RecordRun, FolderThatCannotBeRemovedIsToldAndCounts) {
  if (!canRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  const std::string out = dir / "out", lib = dir / "lib", r = out + "/R";
  makeDirs(lib);
  makeDirs(out + "/P/E");
  makeDirs(r + "/E");
  Record record;
  record.folders = {"P/E"};
  std::string told =
      "Can't remove the folder " + out + "/P/E: Permission denied\n";
  // R/E on a read-only bind mount of R, where one can be made.
  bool mounted = mount(r.c_str(), r.c_str(), nullptr, MS_BIND, nullptr) == 0;
  if (mounted && mount(nullptr, r.c_str(), nullptr,
                       MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0) {
    record.folders.emplace_back("R/E");
    told += "Can't remove the folder " + r + "/E: Read-only file system\n";
  } else {
    std::cout << "note: no read-only mount here: " << strerror(errno) << "\n";
  }
  writeText(out + "/.plinkard-record", recordText(record));
  chmod(out.c_str(), 0777);
  chmod((out + "/.plinkard-record").c_str(), 0666);
  chmod((out + "/P").c_str(), 0555);
  const RunResult run = runBinary({"-i", lib, "-o", out, "-s", "1", "-r"},
                                  RunOptions{"", "", true, true});
  if (mounted) umount2(r.c_str(), MNT_DETACH);
  EXPECT_EQ(run.out, echoLines(lib, out) + kDefaultFilter +
                         "Removing the songs of earlier fills...\nSongs of "
                         "earlier fills: 0 removed, 0 kept, 0 could not be "
                         "removed.\n" +
                         told + scanLines(0) + nothingToCopy(1));
  EXPECT_EQ(run.status, 2);
  const std::string after = readText(out + "/.plinkard-record");
  for (const std::string& folder : record.folders) {
    EXPECT_NE(after.find(folderLine(folder)), std::string::npos) << after;
  }
}

TEST(Playlist, ExtinfLineBeforeEachSongWithATitle) {
  struct Case {
    int64_t ms;
    const char* artist;
    const char* title;
    const char* line;
  };
  const Case cases[] = {
      {1499, "Art", "Song", "#EXTINF:1,Art - Song\n"},
      {1500, "", "Song", "#EXTINF:2,Song\n"},
      {-1, "A\r\nB", "T\nU", "#EXTINF:-1,A  B - T U\n"},
      {0, "Art", "", ""},
  };
  std::vector<RecordedSong> songs;
  std::string expected = "#EXTM3U\n";
  for (const Case& c : cases) {
    RecordedSong song;
    song.path = std::string("Music/") + c.title + std::to_string(c.ms);
    song.playingMs = c.ms;
    song.artist = c.artist;
    song.title = c.title;
    EXPECT_EQ(extinfLine(song), c.line) << "title: " << c.title;
    songs.push_back(song);
    if (song.path.find('\n') == std::string::npos) {
      expected += c.line + song.path.substr(6) + "\n";
    }
  }
  size_t listed = 0;
  EXPECT_EQ(playlistText(songs, "Music/list.m3u8", listed), expected);
  EXPECT_EQ(listed, 3u);
}
