#ifndef PLINKARD_BENCH_RUN_COMMAND_H_
#define PLINKARD_BENCH_RUN_COMMAND_H_

#include <string>
#include <vector>

// What one run of a command cost.
struct Measurement {
  double seconds = 0;     // wall time from fork to the end of the wait
  double cpuSeconds = 0;  // the child's user and system time
  long maxRssKiB = 0;     // the child's peak resident set
  int status = -1;        // exit status, or 128 + the signal that ended it
};

// Runs `argv` (no shell) with standard input, output and error on
// /dev/null and waits for it.
Measurement runCommand(const std::vector<std::string>& argv);

// The median of `values` (the mean of the middle two for an even count).
double median(std::vector<double> values);

#endif  // PLINKARD_BENCH_RUN_COMMAND_H_
