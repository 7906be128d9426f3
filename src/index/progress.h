#ifndef PLINKARD_INDEX_PROGRESS_H_
#define PLINKARD_INDEX_PROGRESS_H_

#include <cstdint>

// Milliseconds of the monotonic clock.
int64_t monotonicMilliseconds();

// Decides when the scan may print its progress line: only after more than
// `intervalMs` of the clock have passed since the last line (or since
// start()).
class ProgressThrottle {
 public:
  using Clock = int64_t (*)();

  explicit ProgressThrottle(Clock clock = monotonicMilliseconds,
                            int64_t intervalMs = 500);

  // Sets the reference time on the first call; later calls do nothing.
  void start();
  // True, and the reference time moves to now, when a line is due.
  bool due();

 private:
  Clock clock_;
  int64_t intervalMs_;
  bool started_ = false;
  int64_t last_ = 0;
};

#endif  // PLINKARD_INDEX_PROGRESS_H_
