#include "usedlist/used_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "job_test_helpers.h"
#include "os/descriptor.h"
#include "run_output.h"
#include "test_util.h"

namespace {

// Every entry readUsedListEntry finds in `text`, as "size/separator/name|".
std::string readEntries(const std::string& text) {
  std::stringbuf in(text);
  UsedListEntry entry;
  std::string entries;
  while (readUsedListEntry(in, entry)) {
    entries += std::to_string(entry.sizeKiB) + "/" + entry.separator + "/" +
               entry.fileName + "|";
  }
  return entries;
}

}  // namespace

TEST(UsedList, ReaderToleratesWhatPeopleAndOtherSystemsWrite) {
  const std::string longName(300, 'n');
  const std::pair<std::string, std::string> cases[] = {
      {"4882\"Track 01.mp3\n", "4882/\"/Track 01.mp3|"},
      {"4882 Track.mp3\n", "4882/T/rack.mp3|"},
      {"12\n\"next.mp3\n7\"b\n", "12/\"/next.mp3|7/\"/b|"},
      {"5\"a\r\n6\"b\r\n", "5/\"/a|6/\"/b|"},
      {"9\"" + longName + "\n1\"z\n", "9/\"/" + longName + "|1/\"/z|"},
      {"\n\n  3\"\n4\"last", "3/\"/|4/\"/last|"},
      {"1\"a\nabc\n2\"b\n", "1/\"/a|"},
      {"4294967295\"max\n4294967296\"big\n1\"a\n", "4294967295/\"/max|"},
      {"", ""},
  };
  for (const auto& [text, entries] : cases) {
    EXPECT_EQ(readEntries(text), entries) << "list: " << text;
  }
}

// Lines go after what is there, a line end first when the last line lacks
// one; only transferred songs are listed, in plan order, and read back.
TEST(UsedList, WriterAppendsALinePerTransferredSong) {
  TempDir dir;
  const std::string longName(300, 'n');
  const std::pair<const char*, std::string> cases[] = {{"7\"old", "7\"old\n"},
                                                       {"7\"old\n", "7\"old\n"},
                                                       {"", ""},
                                                       {nullptr, ""}};
  int number = 0;
  for (const auto& [before, after] : cases) {
    const std::string list = dir / ("list" + std::to_string(++number));
    if (before != nullptr) writeText(list, before);
    TestJob test;
    FillJob& job = test.job;
    job.bWriteUsedList = true;
    job.usedListPath = list;
    addSong(job, 4882, "/m/A/" + longName);
    addSong(job, 0, "/m/odd\nname.mp3");
    addSong(job, 3, "/m/failed.mp3");
    job.plan = {2, 1, 0};
    job.transferred = {1, 0};
    EXPECT_TRUE(job.writeUsedList()) << list;
    const std::string text = readText(list);
    EXPECT_EQ(text, after + "0\"odd?name.mp3\n4882\"" + longName + "\n")
        << "before: " << (before ? before : "no file");
    EXPECT_EQ(readEntries(text), (after.empty() ? "" : "7/\"/old|") +
                                     std::string("0/\"/odd?name.mp3|4882/\"/") +
                                     longName + "|");
  }
}

// A list on a volume that has room for only part of the lines keeps every
// whole line that fits and says how many songs are left out.
TEST(UsedList, WriterOnAFullVolumeKeepsTheWholeLinesThatFit) {
  TempDir dir;
  const std::string volume = dir / "volume";
  makeDirs(volume);
  if (mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  }
  writeFile(volume + "/filler", 60 << 10);  // one page of 4 KiB is left
  TestJob test;
  FillJob& job = test.job;
  job.bWriteUsedList = true;
  job.usedListPath = volume + "/used";
  for (uint32_t i = 0; i < 300; ++i) {
    addSong(job, 1000 + i, "/m/song-number-" + std::to_string(i) + ".mp3");
    job.transferred.push_back(i);
  }
  EXPECT_FALSE(job.writeUsedList());
  const std::string text = readText(job.usedListPath);
  umount2(volume.c_str(), MNT_DETACH);
  const size_t lines =
      static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  ASSERT_GT(lines, 0u);
  EXPECT_EQ(text.back(), '\n') << "no line may be cut short";
  std::string expected;
  for (size_t i = 0; i < lines; ++i) {
    expected +=
        usedListLine(1000 + i, "song-number-" + std::to_string(i) + ".mp3");
  }
  EXPECT_EQ(text, expected);
  EXPECT_EQ(test.text(), "Can't write /m/song-number-" + std::to_string(lines) +
                             ".mp3 to used-list: No space left on device\n" +
                             std::to_string(300 - lines) +
                             " of 300 songs could not be listed; a later run "
                             "may pick them again.\n");
}

// A line drops the songs of its size and name, a line without a name every
// song of its size; names compare as the writer writes them and the reader
// takes them back.
TEST(UsedList, ALineNamesTheSongsOfItsSizeAndName) {
  const std::pair<uint32_t, std::string> songs[] = {{5, "a.mp3"},
                                                    {5, "b.mp3"},
                                                    {6, "a.mp3"},
                                                    {7, "odd\nname.mp3"},
                                                    {8, "cr\r"}};
  const std::pair<std::string, std::string> cases[] = {
      {"5\"a.mp3\n", "5 a.mp3|"},
      {"5\"\n", "5 a.mp3|5 b.mp3|"},
      {"5\"a.mp3\r\n6\"b.mp3\n5\"a.mp3\n", "5 a.mp3|"},
      {usedListLine(7, "odd\nname.mp3") + usedListLine(8, "cr\r"),
       "7 odd\nname.mp3|8 cr\r|"},
      {"9\"a.mp3\n5\"A.mp3\n5 a.mp3\n6\"a.mp3 \n", ""},
  };
  for (const auto& [list, dropped] : cases) {
    std::vector<uint32_t> sizes;
    for (const auto& song : songs) sizes.push_back(song.first);
    ListedSongs listed(sizes);
    std::stringbuf in(list);
    for (UsedListEntry entry; readUsedListEntry(in, entry);) listed.add(entry);
    std::string names;
    for (const auto& [size, name] : songs) {
      if (listed.names(size, name))
        names += std::to_string(size) + " " + name + "|";
    }
    EXPECT_EQ(names, dropped) << "list: " << list;
  }
}

TEST(FaultList, EndlessLineKeepsOnlyTheStartOfItsName) {
  std::stringbuf list("7\"" + std::string(100000, 'x') + "\r\n8\"b\n");
  UsedListEntry entry;
  ASSERT_TRUE(readUsedListEntry(list, entry));
  EXPECT_EQ(entry.fileName, std::string(kMaxNameKept, 'x'));
  ASSERT_TRUE(readUsedListEntry(list, entry));
  EXPECT_EQ(entry.fileName, "b") << "the next line is read as it stands";
}

// The two small songs fit under 1 MB in every order and the large ones never
// do; under 10 MB, all that the list leaves fits. So the first run takes the
// small ones, and the second, into an empty player, only the large ones.
TEST(FillRun, MirrorsFoldersAndNeverPicksAListedSong) {
  TempDir dir;
  const std::pair<const char*, uint64_t> songs[] = {
      {"Rock/AC", 100}, {"Pop", 200}, {"Jazz/Old", 2000}, {"Folk", 2100}};
  for (const auto& [folder, kib] : songs) {
    writeFile(dir / "lib/" + folder + "/song.mp3", kib * 1024);
  }
  makeDirs(dir / "out1");
  makeDirs(dir / "out2");
  const std::string list = dir / "used.txt";
  const auto expectRun = [&](const std::string& out, const char* megabytes,
                             const std::string& notice,
                             const std::string& rest) {
    const RunResult run = runBinary({"-i", dir / "lib/", "-o", dir / out, "-s",
                                     megabytes, "-d", "1", "-l", list});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, echoLines(dir / "lib/", dir / out) + kMirrored + notice +
                           "Used songs list: " + list + "\n" + kDefaultFilter +
                           scanLines(4) + rest)
        << out;
  };
  const auto copied = [](const std::string& efficiency,
                         const std::string& sizes, int processed) {
    return planLines(efficiency, false) + copyingLine(1, 2, "song.mp3") +
           copyingLine(2, 2, "song.mp3") + summaryLines(sizes, processed, 2);
  };
  expectRun("out1", "1", missingListLine(list),
            copied("0.292", "0.292969 / 1  MB (29.2%", 4));
  expectRun("out2", "10", "",
            "End of Used List reached. 2 Entries were read.\n"
            "Done. 2 entries were removed from the song list.\n" +
                copied("0.4", "4.00391 / 10  MB (40%", 2));
  EXPECT_EQ(listTree(dir / "out1"),
            (std::set<std::string>{"Pop/", "Pop/song.mp3", "Rock/", "Rock/AC/",
                                   "Rock/AC/song.mp3"}));
  EXPECT_EQ(listTree(dir / "out2"),
            (std::set<std::string>{"Folk/", "Folk/song.mp3", "Jazz/",
                                   "Jazz/Old/", "Jazz/Old/song.mp3"}));
}

// A list that cannot be read, or cannot be appended to or created, stops the
// run before the scan with one line and status 1; the check creates nothing.
TEST(FaultList, ListThatCannotBeReadOrWrittenStopsTheRunFirst) {
  TempDir dir;
  writeFile(dir / "lib/a.mp3", 1 << 10);
  makeDirs(dir / "out");
  makeDirs(dir / "folder");
  makeDirs(dir / "ro");
  writeText(dir / "locked", "1\"a.mp3\n");
  chmod((dir / "locked").c_str(), 0600);
  writeText(dir / "shared", "");
  chmod((dir / "shared").c_str(), 0644);
  const bool readOnly =
      mount("tmpfs", (dir / "ro").c_str(), "tmpfs", MS_RDONLY, nullptr) == 0;
  struct Row {
    std::string list;
    bool exists, nobody;
    std::string line;
  };
  const Row rows[] = {
      {"nodir/used", false, false,
       "write the used-list nodir/used: No such "
       "file or directory"},
      {"folder", false, false, "write the used-list folder: Is a directory"},
      {"ro/used", false, false,
       "write the used-list ro/used: Read-only file system"},
      {"shared", true, true, "write the used-list shared: Permission denied"},
      {"locked", true, true, "read the used-list locked: Permission denied"},
  };
  for (const Row& row : rows) {
    if (row.nobody && !canRunUnprivileged()) continue;
    if (row.list == "ro/used" && !readOnly) continue;
    const RunResult run =
        runBinary({"-i", "lib", "-o", "out", "-s", "1", "-l", row.list},
                  RunOptions{dir.path(), "", false, row.nobody});
    EXPECT_EQ(run.out, echoLines("lib", "out") +
                           (row.exists ? "" : missingListLine(row.list)) +
                           "Used songs list: " + row.list + "\n" +
                           kDefaultFilter + "Can't " + row.line + "\n")
        << row.list;
    EXPECT_EQ(run.status, 1) << row.list;
  }
  if (readOnly) umount2((dir / "ro").c_str(), MNT_DETACH);
  EXPECT_EQ(listTree(dir.path()),
            (std::set<std::string>{"folder/", "lib/", "lib/a.mp3", "locked",
                                   "out/", "ro/", "shared"}));
}

// A list that takes no line makes the status 2 although the song landed; a
// pipe takes them all, and that it cannot be flushed is no error.
TEST(FaultList, ListThatTakesNoLineMakesTheStatus2) {
  TempDir dir;
  writeFile(dir / "lib/a.mp3", 1 << 10);
  makeDirs(dir / "out");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  const os::Descriptor reader(
      open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(reader.valid());
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/full", "Can't write " + dir / "lib/a.mp3" +
                        " to used-list: No space left on device\n1 of 1 songs "
                        "could not be listed; a later run may pick them "
                        "again.\n"},
      {dir / "fifo", ""}};
  for (const auto& [list, failure] : cases) {
    std::system(("rm -f " + dir / "out/a.mp3").c_str());
    const RunResult run = runBinary(
        {"-i", dir / "lib", "-o", dir / "out", "-s", "1", "-l", list});
    EXPECT_EQ(run.out, echoLines(dir / "lib", dir / "out") +
                           newListLines(list) + kDefaultFilter + scanLines(1) +
                           planLines("0", false) + copyingLine(1, 1, "a.mp3") +
                           failure +
                           summaryLines("0.000976562 / 1  MB (0%", 1, 1))
        << list;
    EXPECT_EQ(run.status, failure.empty() ? 0 : 2) << list;
  }
  char lines[64] = {};
  EXPECT_EQ(read(reader.get(), lines, sizeof lines), 8);
  EXPECT_STREQ(lines, "1\"a.mp3\n");
}
