#include <gtest/gtest.h>

#include <tuple>

#include "job_test_helpers.h"
#include "run_output.h"

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

// A fill of the free space shows what the plan takes on the target as the
// planner counted it (20 KiB of 100), not the songs' sizes (9 KiB).
TEST(Summary, FillOfTheFreeSpaceShowsThePlannersCount) {
  TestJob test;
  test.job.bFillAll = true;
  test.job.fillSize = 100;
  test.job.planSize = 9;
  test.job.planTargetBytes = 20480;
  test.job.printSummary();
  EXPECT_EQ(test.text(),
            summaryLines("0.0195312 / 0.0976562  MB (20%", 0, 0).substr(1));
}
