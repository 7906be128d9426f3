#include <gtest/gtest.h>

#include <cstdint>

#include "job_test_helpers.h"
#include "run_output.h"

TEST(FillJobSetters, FillSizeAndUsedList) {
  TestJob test;
  FillJob& job = test.job;
  const uint64_t largest = (uint64_t{1} << 54) - 1;
  EXPECT_TRUE(job.setFillSize(largest, false));
  EXPECT_FALSE(job.setFillSize(largest + 1, false));
  EXPECT_EQ(job.fillSize, largest * 1024);
  // A folder is no list file: it will be written, never read.
  EXPECT_TRUE(job.setUsedList(true, true, "/"));
  EXPECT_FALSE(job.bReadUsedList);
  EXPECT_TRUE(job.bWriteUsedList);
  EXPECT_EQ(job.usedListPath, "/");
  EXPECT_EQ(test.text(), "You need to set a valid (positive) fill size!\n" +
                             missingListLine("/"));
}
