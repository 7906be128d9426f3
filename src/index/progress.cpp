#include "index/progress.h"

#include <ctime>

int64_t monotonicMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

ProgressThrottle::ProgressThrottle(Clock clock, int64_t intervalMs)
    : clock_(clock), intervalMs_(intervalMs) {}

void ProgressThrottle::start() {
  if (started_) return;
  started_ = true;
  last_ = clock_();
}

bool ProgressThrottle::due() {
  const int64_t now = clock_();
  if (now - last_ <= intervalMs_) return false;
  last_ = now;
  return true;
}
