#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <boost/regex.hpp>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "job_test_helpers.h"
#include "run_output.h"
#include "test_util.h"
#include "transfer/file_copy.h"
#include "usedlist/used_list.h"

namespace {

// Two songs on a 1 MiB target (a tmpfs) that holds only one of them.
class FullTarget : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    makeDirs(out);
    if (mount("tmpfs", out.c_str(), "tmpfs", 0, "size=1m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    }
    mounted = true;
    writeFile(lib + "/a.mp3", 700 << 10);
    writeFile(lib + "/b.mp3", 710 << 10);
  }
  void TearDown() override {
    if (mounted) umount2(out.c_str(), MNT_DETACH);
  }

  TempDir dir;
  const std::string lib = dir / "lib", out = dir / "out", list = dir / "used";
  bool mounted = false;
};

TEST_P(FullTarget, SongThatDoesNotFitLeavesNoTraceAndStaysAvailable) {
  const bool move = GetParam();
  std::vector<std::string> args = {"-i", lib,  "-o", out,
                                   "-s", "10", "-l", list};
  if (move) args.emplace_back("-m");
  const RunResult run = runPlinkard(args);
  // Whichever song came first fits.
  const bool aFirst = pathExists(out + "/a.mp3");
  const std::string first = aFirst ? "a.mp3" : "b.mp3";
  const std::string second = aFirst ? "b.mp3" : "a.mp3";
  EXPECT_EQ(listTree(out), std::set<std::string>{first});
  EXPECT_EQ(readText(out + "/" + first).size(), (aFirst ? 700u : 710u) << 10);
  EXPECT_EQ(pathExists(lib + "/" + first), !move);
  EXPECT_TRUE(pathExists(lib + "/" + second));
  EXPECT_EQ(readText(list), aFirst ? "700\"a.mp3\n" : "710\"b.mp3\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, echoLines(lib, out) + newListLines(list) +
                         (move ? "bMove ist true\n" : "") + kDefaultFilter +
                         scanLines(2) + planLines("0.137", move) +
                         "Copying file 1 / 2: " + first +
                         "\nCopying file 2 / 2: " + second + "\n" +
                         copyFailed(out + "/" + second, lib + "/" + second,
                                    "No space left on device") +
                         summaryLines("1.37695 / 10  MB (13.7%", 2, 1));
}

INSTANTIATE_TEST_SUITE_P(CopyAndMove, FullTarget, testing::Bool());

// An unreadable song; then a target folder and a list the user may not
// write. Each is reported, nothing is lost, and the run ends normally.
TEST(FaultRun, WhatTheUserMayNotReadOrWriteIsReported) {
  if (!canRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  const std::string lib = dir / "lib", out = dir / "out", list = dir / "l/used";
  writeFile(lib + "/a.mp3", 3 << 10);
  writeFile(lib + "/b.mp3", 5 << 10);
  makeDirs(out);
  makeDirs(dir / "l");
  chmod((lib + "/a.mp3").c_str(), 0600);
  chmod(out.c_str(), 0777);
  chmod((dir / "l").c_str(), 0777);
  const std::vector<std::string> args = {"-i", lib,  "-o", out,
                                         "-s", "10", "-l", list};
  const RunOptions nobody{"", "", false, true};
  const std::string refused =
      copyFailed(out + "/a.mp3", lib + "/a.mp3", "Permission denied");
  RunResult run = runPlinkard(args, nobody);
  const bool aFirst = run.out.find("1 / 2: a.mp3") != std::string::npos;
  EXPECT_EQ(run.out, echoLines(lib, out) + newListLines(list) + kDefaultFilter +
                         scanLines(2) + planLines("0", false) +
                         (aFirst ? "Copying file 1 / 2: a.mp3\n" + refused +
                                       "Copying file 2 / 2: b.mp3\n"
                                 : "Copying file 1 / 2: b.mp3\nCopying file 2 "
                                   "/ 2: a.mp3\n" +
                                       refused) +
                         summaryLines("0.0078125 / 10  MB (0%", 2, 1));
  EXPECT_EQ(run.status, 0);

  chmod((lib + "/a.mp3").c_str(), 0644);
  chmod(out.c_str(), 0755);
  ASSERT_EQ(chown(list.c_str(), 0, 0), 0);
  run = runPlinkard(args, nobody);
  EXPECT_EQ(run.out, echoLines(lib, out) + "Used songs list: " + list + "\n" +
                         kDefaultFilter + scanLines(2) +
                         "End of Used List reached. 1 Entries were read.\n"
                         "Done. 1 entries were removed from the song list.\n" +
                         planLines("0", false) + "Copying file 1 / 1: a.mp3\n" +
                         refused + "The UsedList-File can't be written!\n" +
                         summaryLines("0.00292969 / 10  MB (0%", 1, 0));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readText(list), "5\"b.mp3\n");
  EXPECT_EQ(listTree(out), std::set<std::string>{"b.mp3"});
  EXPECT_EQ(listTree(lib), (std::set<std::string>{"a.mp3", "b.mp3"}));
}

TEST(FaultCopy, SourceGoneSinceTheScanFailsAloneAndTheNextSongIsCopied) {
  TempDir dir;
  writeFile(dir / "b.mp3", 2 << 10);
  makeDirs(dir / "out");
  FillJob job;
  addSong(job, 1, dir / "a.mp3", dir / "out/a.mp3");
  addSong(job, 2, dir / "b.mp3", dir / "out/b.mp3");
  job.plan = {0, 1};
  CaptureStdout out;
  job.copyFiles();
  EXPECT_EQ(out.text(), "bMove is false\nCopying file 1 / 2: a.mp3\n" +
                            copyFailed(dir / "out/a.mp3", dir / "a.mp3",
                                       "No such file or directory") +
                            "Copying file 2 / 2: b.mp3\n");
  EXPECT_EQ(job.transferred, std::vector<uint32_t>{1});
  EXPECT_EQ(listTree(dir / "out"), std::set<std::string>{"b.mp3"});
}

// Names the file system allows but text handling may trip on, and a song
// deeper than PATH_MAX with a link back up beside it. Songs are listed by
// size, so a second run must find every one of them in the list.
TEST(FaultNames, AwkwardNamesAndDepthsAreCopiedAndListed) {
  struct rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  if (saved.rlim_max < 2100) GTEST_SKIP() << "open-file limit below the depth";
  TempDir dir;
  const std::string lib = dir / "lib", out = dir / "out", list = dir / "used";
  const std::set<std::string> names = {"new\nline.mp3",
                                       "quo\"te.mp3",
                                       "back\\slash.mp3",
                                       "\xff\xfe.mp3",
                                       "-dash.mp3",
                                       "deep.mp3",
                                       std::string(251, 'n') + ".mp3"};
  uint32_t size = 0;
  for (const std::string& name : names) {
    if (name != "deep.mp3") writeFile(lib + "/" + name, ++size << 10);
  }
  // Built one level at a time from an open folder: the path is too long.
  std::string bottom = lib;
  int fd = open(lib.c_str(), O_PATH | O_DIRECTORY);
  for (int level = 0; level < 2040; ++level, bottom += "/d") {
    mkdirat(fd, "d", 0755);
    const int next = openat(fd, "d", O_PATH | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  ASSERT_GT(bottom.size(), size_t(PATH_MAX));
  close(openat(fd, "deep.mp3", O_WRONLY | O_CREAT, 0644));
  symlinkat("..", fd, "up");
  close(fd);
  makeDirs(out);
  // The usual soft limit, too low for the depth: the scan raises it.
  struct rlimit low = {std::min<rlim_t>(saved.rlim_cur, 1024), saved.rlim_max};
  setrlimit(RLIMIT_NOFILE, &low);
  const std::vector<std::string> args = {"-i", lib,  "-o", out,
                                         "-s", "10", "-l", list};
  const RunResult first = runPlinkard(args), second = runPlinkard(args);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(listTree(out), names);
  std::stringbuf text(readText(list));
  std::multiset<uint32_t> sizes;
  for (UsedListEntry entry; readUsedListEntry(text, entry);) {
    sizes.insert(entry.sizeKiB);
  }
  EXPECT_EQ(sizes, (std::multiset<uint32_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(second.out,
            echoLines(lib, out) + "Used songs list: " + list + "\n" +
                kDefaultFilter +
                scanLines(7, "Skipping directory loop: " + bottom + "/up\n") +
                "End of Used List reached. 7 Entries were read.\n"
                "Done. 7 entries were removed from the song list.\n" +
                nothingToCopy(10));
  EXPECT_EQ(removeFile(bottom + "/deep.mp3"), 0);
  std::system(("rm -rf " + lib + "/d").c_str());
}

TEST(FaultFilter, RunawayExpressionEndsWithTheFilterMessage) {
  TempDir dir;
  const std::string name = std::string(200, 'a') + ".mp3";
  writeFile(dir / "lib/" + name, 0);
  std::string why = "the match ended normally";
  try {
    boost::regex_search(name, boost::regex("(a*)*b", boost::regex::icase));
  } catch (const std::runtime_error& e) {
    why = e.what();
  }
  const RunResult run = runPlinkard(
      {"-i", dir / "lib/", "-o", dir.path(), "-s", "1", "-in", "(a*)*b"});
  EXPECT_EQ(run.out,
            echoLines(dir / "lib/", dir.path()) +
                "Regular Expression: File(path) must match \"(a*)*b\"\n" +
                kDefaultFilter + scanLines(1) +
                "Regular expression '(a*)*b' on couldn't be applied to "
                "string '" +
                name + "': " + why +
                "\nFiltering done, 1 songs didn't pass.\n" + nothingToCopy(1));
  EXPECT_EQ(run.status, 0);
}

TEST(FaultList, EndlessLineKeepsOnlyTheStartOfItsName) {
  std::stringbuf list("7\"" + std::string(100000, 'x') + "\r\n8\"b\n");
  UsedListEntry entry;
  ASSERT_TRUE(readUsedListEntry(list, entry));
  EXPECT_EQ(entry.fileName, std::string(kMaxNameKept, 'x'));
  ASSERT_TRUE(readUsedListEntry(list, entry));
  EXPECT_EQ(entry.fileName, "b") << "the next line is read as it stands";
}

}  // namespace
