#ifndef PLINKARD_TESTS_CHILD_PROCESS_H_
#define PLINKARD_TESTS_CHILD_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

// How a child process is started.
struct ChildOptions {
  std::string cwd;           // working folder; the parent's when empty
  std::string input;         // bytes on standard input
  bool closedInput = false;  // standard input closed instead
  int inputFd = -1;          // or standard input from this descriptor
  // "NAME=value" each, set in the child's environment.
  std::vector<std::string> environment;
  // Standard output and error are collected; without, they go to
  // /dev/null, or standard output to `outputFd` when that is given.
  bool capture = true;
  int outputFd = -1;
  int niceness = 0;  // added to the child's, so a busy machine favours us
  // SIGINT, SIGTERM, SIGHUP and SIGPIPE back to their defaults and no signal
  // blocked, whatever the test runner had; then `pendingSignal` blocked and
  // raised, so that it waits for the child to unblock it, and SIGHUP
  // ignored with `ignoreHangup`.
  bool defaultSignals = false;
  int pendingSignal = 0;
  bool ignoreHangup = false;
  int timeoutSeconds = 120;  // then it is killed
};

// How it ended and what it cost.
struct ChildResult {
  std::string out;  // standard output, when captured
  std::string err;  // standard error, when captured
  int status = -1;  // exit status, or 128 + the signal that ended it
  bool timedOut = false;
  double seconds = 0;     // wall time from the start to the end of the wait
  double cpuSeconds = 0;  // the child's user and system time
  long maxRssKiB = 0;     // the child's peak resident set
};

// One child process, started at construction (argv[0] looked up in PATH
// when it holds no '/'); the tests' and the benchmarks' only way to run
// programs.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv,
               const ChildOptions& options);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Whether it is still running; an ended child is left to wait() to reap.
  bool running() const;
  // Collects its output until it ends, or kills it at the timeout.
  ChildResult wait();

 private:
  ChildOptions options_;
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  double start_ = 0;
};

// Starts `argv` and waits for it.
ChildResult runChild(const std::vector<std::string>& argv,
                     const ChildOptions& options = ChildOptions());

#endif  // PLINKARD_TESTS_CHILD_PROCESS_H_
