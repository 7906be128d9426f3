#include <gtest/gtest.h>

#include "job_test_helpers.h"
#include "test_util.h"

// Songs 0 and 1 share a target; song 2's target appeared after pruning.
// With -m only song 0's source may go, and only song 0 counts as copied.
TEST(Transfer, NeverOverwritesAndCountsOnlyTransferredSongs) {
  TempDir dir;
  writeFile(dir / "A/x.mp3", 2048);
  writeFile(dir / "B/x.mp3", 1024);
  writeFile(dir / "C/y.mp3", 1024);
  writeText(dir / "out/y.mp3", "old");
  FillJob job;
  job.bMove = true;
  job.fillSize = 1024;
  addSong(job, 2, dir / "A/x.mp3", dir / "out/x.mp3");
  addSong(job, 1, dir / "B/x.mp3", dir / "out/x.mp3");
  addSong(job, 1, dir / "C/y.mp3", dir / "out/y.mp3");
  job.plan = {0, 1, 2};
  job.planSize = 4;
  CaptureStdout out;
  EXPECT_TRUE(job.copyFiles());
  job.printSummary();
  const auto skipped = [&](const std::string& song) {
    return " already exists!\nFile '" + dir / song + " could not be copied!\n";
  };
  EXPECT_EQ(out.text(),
            "bMove is true\nCopying file 1 / 3: x.mp3\nCopying file 2 / 3: "
            "x.mp3\nFile " +
                dir / "out/x.mp3" + skipped("B/x.mp3") +
                "Copying file 3 / 3: y.mp3\nFile " + dir / "out/y.mp3" +
                skipped("C/y.mp3") +
                "This configuration uses 0.00390625 / 1  "
                "MB (0.3%).\n3 files were processed, 1 files werde copied.\n");
  EXPECT_EQ(listTree(dir.path()),
            (std::set<std::string>{"A/", "B/", "B/x.mp3", "C/", "C/y.mp3",
                                   "out/", "out/x.mp3", "out/y.mp3"}));
  EXPECT_EQ(readText(dir / "out/x.mp3").size(), 2048u);
  EXPECT_EQ(readText(dir / "out/y.mp3"), "old");
}

TEST(Summary, NumberFormats) {
  const std::tuple<uint64_t, uint64_t, std::string> cases[] = {
      {1022976, 1024000, "999 / 1000  MB (99.9%)"},
      {512, 1024, "0.5 / 1  MB (50%)"},
      {0, 1953125000, "0 / 1.90735e+06  MB (0%)"},
  };
  for (const auto& [planSize, fillSize, numbers] : cases) {
    FillJob job;
    job.planSize = planSize;
    job.fillSize = fillSize;
    CaptureStdout out;
    job.printSummary();
    EXPECT_EQ(out.text(), "This configuration uses " + numbers +
                              ".\n0 files were processed, 0 files werde "
                              "copied.\n")
        << "plan " << planSize << " KiB of " << fillSize;
  }
}
