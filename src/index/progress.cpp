#include "index/progress.h"

#include <chrono>

int64_t monotonicMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
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
