#include <gtest/gtest.h>

#include <tuple>

#include "job_test_helpers.h"
#include "run_output.h"
#include "test_util.h"

TEST(Summary, NumberFormats) {
  const std::tuple<uint64_t, uint64_t, std::string> cases[] = {
      {1022976, 1024000, "999 / 1000  MB (99.9%"},
      {512, 1024, "0.5 / 1  MB (50%"},
      {0, 1953125000, "0 / 1.90735e+06  MB (0%"},
  };
  for (const auto& [planSize, fillSize, numbers] : cases) {
    TestJob test;
    FillJob& job = test.job;
    job.planSize = planSize;
    job.fillSize = fillSize;
    job.printSummary();
    EXPECT_EQ(test.text(), summaryLines(numbers, 0, 0).substr(1))
        << "plan " << planSize << " KiB of " << fillSize;
  }
}

// A fill of the free space shows the plan as the planner counted it: two
// songs of 5000 bytes take two units each and the folder's entries one
// more, 20 KiB of 100, the planner's 0.2.
TEST(Summary, FillOfTheFreeSpaceShowsThePlannersCount) {
  TempDir dir;
  makeDirs(dir / "out");
  TestJob test;
  FillJob& job = test.job;
  job.outputDir = dir / "out";
  ASSERT_FALSE(job.outputFolder.hold(job.outputDir.native()));
  job.bFillAll = true;
  job.fillSize = 100;
  for (const std::string name : {"a.mp3", "b.mp3"}) {
    job.songs.push_back(songEntry("/lib/" + name, 4, dir / "out/" + name));
    job.songs.back().sizeBytes = 5000;
  }
  job.createPlan(5);
  job.printSummary();
  EXPECT_EQ(test.text(),
            "Most efficient combination: 0.2\n" +
                summaryLines("0.0195312 / 0.0976562  MB (20%", 2, 0).substr(1));
}
