#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "job_test_helpers.h"
#include "run_output.h"
#include "test_util.h"

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
  const RunResult run = runBinary(args);
  // Whichever song came first fits.
  const bool aFirst = pathExists(out + "/a.mp3");
  const std::string first = aFirst ? "a.mp3" : "b.mp3";
  const std::string second = aFirst ? "b.mp3" : "a.mp3";
  EXPECT_EQ(listTree(out), std::set<std::string>{first});
  EXPECT_EQ(readText(out + "/" + first).size(), (aFirst ? 700u : 710u) << 10);
  EXPECT_EQ(pathExists(lib + "/" + first), !move);
  EXPECT_TRUE(pathExists(lib + "/" + second));
  EXPECT_EQ(readText(list), aFirst ? "700\"a.mp3\n" : "710\"b.mp3\n");
  EXPECT_EQ(run.status, 2) << "a planned song was not transferred";
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

// An unreadable song is reported, the other one is copied and listed, and
// the run ends normally.
TEST(FaultRun, WhatTheUserMayNotReadIsReported) {
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
  const std::string refused =
      copyFailed(out + "/a.mp3", lib + "/a.mp3", "Permission denied");
  const RunResult run =
      runBinary({"-i", lib, "-o", out, "-s", "10", "-l", list},
                RunOptions{"", "", false, true});
  const bool aFirst = run.out.find("1 / 2: a.mp3") != std::string::npos;
  EXPECT_EQ(run.out, echoLines(lib, out) + newListLines(list) + kDefaultFilter +
                         scanLines(2) + planLines("0", false) +
                         (aFirst ? "Copying file 1 / 2: a.mp3\n" + refused +
                                       "Copying file 2 / 2: b.mp3\n"
                                 : "Copying file 1 / 2: b.mp3\nCopying file 2 "
                                   "/ 2: a.mp3\n" +
                                       refused) +
                         summaryLines("0.0078125 / 10  MB (0%", 2, 1));
  EXPECT_EQ(run.status, 2) << "a planned song was not transferred";
  EXPECT_EQ(readText(list), "5\"b.mp3\n");
  EXPECT_EQ(listTree(out), std::set<std::string>{"b.mp3"});
}

// A move from a folder the user may not change: both songs land and count,
// both sources stay, and each is reported once its batch is flushed, after
// the progress lines.
TEST(FaultRun, MoveWhoseSourcesCannotGoKeepsThemAndListsTheSongs) {
  if (!canRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  const std::string lib = dir / "lib", out = dir / "out", list = dir / "used";
  writeFile(lib + "/a.mp3", 3 << 10);
  writeFile(lib + "/b.mp3", 5 << 10);
  makeDirs(out);
  chmod(lib.c_str(), 0555);
  chmod(out.c_str(), 0777);
  chmod(dir.path().c_str(), 0777);
  const RunResult run =
      runBinary({"-i", lib, "-o", out, "-s", "10", "-l", list, "-m"},
                RunOptions{"", "", false, true});
  const bool aFirst = run.out.find("1 / 2: a.mp3") != std::string::npos;
  const std::string first = aFirst ? "a.mp3" : "b.mp3";
  const std::string second = aFirst ? "b.mp3" : "a.mp3";
  EXPECT_EQ(run.out, echoLines(lib, out) + newListLines(list) +
                         "bMove ist true\n" + kDefaultFilter + scanLines(2) +
                         planLines("0", true) + "Copying file 1 / 2: " + first +
                         "\nCopying file 2 / 2: " + second + "\n" +
                         copyFailed(out + "/" + first, lib + "/" + first,
                                    "Permission denied") +
                         copyFailed(out + "/" + second, lib + "/" + second,
                                    "Permission denied") +
                         summaryLines("0.0078125 / 10  MB (0%", 2, 2));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(listTree(out), (std::set<std::string>{"a.mp3", "b.mp3"}));
  EXPECT_EQ(listTree(lib), (std::set<std::string>{"a.mp3", "b.mp3"}));
  EXPECT_EQ(readText(list),
            aFirst ? "3\"a.mp3\n5\"b.mp3\n" : "5\"b.mp3\n3\"a.mp3\n");
}

TEST(FaultCopy, SourceGoneSinceTheScanFailsAloneAndTheNextSongIsCopied) {
  TempDir dir;
  writeFile(dir / "b.mp3", 2 << 10);
  makeDirs(dir / "out");
  TestJob test;
  FillJob& job = test.job;
  addSong(job, 1, dir / "a.mp3", dir / "out/a.mp3");
  addSong(job, 2, dir / "b.mp3", dir / "out/b.mp3");
  job.plan = {0, 1};
  job.copyFiles();
  EXPECT_EQ(test.text(), "bMove is false\nCopying file 1 / 2: a.mp3\n" +
                             copyFailed(dir / "out/a.mp3", dir / "a.mp3",
                                        "No such file or directory") +
                             "Copying file 2 / 2: b.mp3\n");
  EXPECT_EQ(job.transferred, std::vector<uint32_t>{1});
  EXPECT_EQ(listTree(dir / "out"), std::set<std::string>{"b.mp3"});
}

// Songs 0 and 1 share a target; song 2's target appeared after pruning.
// With -m only song 0's source may go, and only song 0 counts as copied.
TEST(Transfer, NeverOverwritesAndCountsOnlyTransferredSongs) {
  TempDir dir;
  writeFile(dir / "A/x.mp3", 2048);
  writeFile(dir / "B/x.mp3", 1024);
  writeFile(dir / "C/y.mp3", 1024);
  writeText(dir / "out/y.mp3", "old");
  TestJob test;
  FillJob& job = test.job;
  job.bMove = true;
  job.fillSize = 1024;
  addSong(job, 2, dir / "A/x.mp3", dir / "out/x.mp3");
  addSong(job, 1, dir / "B/x.mp3", dir / "out/x.mp3");
  addSong(job, 1, dir / "C/y.mp3", dir / "out/y.mp3");
  job.plan = {0, 1, 2};
  job.planSize = 4;
  EXPECT_TRUE(job.copyFiles());
  job.printSummary();
  const auto skipped = [&](const std::string& song) {
    return " already exists!\nFile '" + dir / song + " could not be copied!\n";
  };
  EXPECT_EQ(test.text(),
            "bMove is true\n" + copyingLine(1, 3, "x.mp3") +
                copyingLine(2, 3, "x.mp3") + "File " + dir / "out/x.mp3" +
                skipped("B/x.mp3") + copyingLine(3, 3, "y.mp3") + "File " +
                dir / "out/y.mp3" + skipped("C/y.mp3") +
                summaryLines("0.00390625 / 1  MB (0.3%", 3, 1).substr(1));
  EXPECT_EQ(listTree(dir.path()),
            (std::set<std::string>{"A/", "B/", "B/x.mp3", "C/", "C/y.mp3",
                                   "out/", "out/x.mp3", "out/y.mp3"}));
  EXPECT_EQ(readText(dir / "out/x.mp3").size(), 2048u);
  EXPECT_EQ(readText(dir / "out/y.mp3"), "old");
}

}  // namespace
