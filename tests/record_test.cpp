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
  song.moved = moved;
  return songLine(song);
}

// Sets the modification time of `path` to `seconds` since 1970.
void setTime(const std::string& path, time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

const char kHeader[] = "plinkard-record 1\n";

}  // namespace

TEST(RecordFormat, DamagedLinesAreToldAndLeftOut) {
  const std::string text = std::string(kHeader) +
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
                "song\t5\t-1.500000000\tmoved\told.mp3\n"
                "song\t7\t11.000000000\tcopied\ta/b\\tc.mp3\nfolder\ta\n");
  EXPECT_EQ(record.songs[1].path, "a/b\tc.mp3");
  const std::pair<const char*, RecordFormat> others[] = {
      {"", RecordFormat::NotARecord},
      {"plinkard-record 0\n", RecordFormat::NotARecord},
      {"song\t1\n", RecordFormat::NotARecord},
      {"plinkard-record 2\n", RecordFormat::Newer}};
  for (const auto& [other, format] : others) {
    EXPECT_EQ(parseRecord(other, record, problems, version), format) << other;
  }
  EXPECT_EQ(version, 2u);
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
            "song\t0\t0.000000000\tcopied\tgone.mp3\n"
            "song\t0\t0.000000000\tcopied\t" +
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
  EXPECT_NE(after.find("\tmoved\tA/moved.mp3\n"), std::string::npos);
  EXPECT_NE(after.find("\tcopied\tA/new.mp3\n"), std::string::npos);
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
      {"plinkard-record 2\n", "",
       "The record " + record +
           " is of a later Plinkard (format 2); nothing was removed.\n"},
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
  EXPECT_EQ(readText(dir / ".plinkard-record"), "plinkard-record 1\n");
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
           summaryLines("0.593795 / 0.996094  MB (59.6%", 1, real ? 1 : 0);
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
