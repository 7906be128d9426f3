#include <gtest/gtest.h>

#include "test_util.h"

TEST(Usage, NoArgumentsPrintsTheUsageAndExitsWithZero) {
  const RunResult run = runPlinkard({}, RunOptions{"", "", true, false});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, banner().size()), banner());
  EXPECT_EQ(run.err, "");
}
