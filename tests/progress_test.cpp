#include "index/progress.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

int64_t fakeNow = 0;
int64_t fakeClock() { return fakeNow; }

}  // namespace

TEST(ProgressThrottle, OneLineOnlyAfterMoreThanHalfASecond) {
  fakeNow = 1000;
  ProgressThrottle throttle(fakeClock);
  throttle.start();
  const std::tuple<int64_t, bool> steps[] = {
      {1200, false}, {1500, false}, {1501, true}, {1501, false},
      {2001, false}, {2002, true},  {2600, true},
  };
  for (const auto& [now, due] : steps) {
    fakeNow = now;
    EXPECT_EQ(throttle.due(), due) << "at " << now << " ms";
    // Every folder of the scan starts the throttle; only the first counts.
    throttle.start();
  }
}
