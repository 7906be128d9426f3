#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <initializer_list>
#include <stdexcept>

namespace {

double now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double seconds(const struct timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// A file in memory holding `input`, read from its start.
int inputFile(const std::string& input) {
  const int fd = memfd_create("input", MFD_CLOEXEC);
  if (fd < 0 ||
      write(fd, input.data(), input.size()) !=
          static_cast<ssize_t>(input.size()) ||
      lseek(fd, 0, SEEK_SET) != 0) {
    throw std::runtime_error("cannot make the input file");
  }
  return fd;
}

void setSignals(const ChildOptions& options) {
  if (!options.defaultSignals) return;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
  if (options.ignoreHangup) signal(SIGHUP, SIG_IGN);
  sigset_t mask;
  sigemptyset(&mask);
  if (options.pendingSignal != 0) sigaddset(&mask, options.pendingSignal);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  // Pending until the program unblocks it.
  if (options.pendingSignal != 0) raise(options.pendingSignal);
}

// In the child: standard input, output and error as `options` say, then
// the program.
[[noreturn]] void execChild(std::vector<char*>& argv,
                            const ChildOptions& options, int in, int out,
                            int err) {
  if (options.closedInput) {
    close(STDIN_FILENO);
  } else {
    dup2(in, STDIN_FILENO);
  }
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  if (options.niceness != 0 && nice(options.niceness) == -1) {
    // Running at the usual priority is no reason to fail.
  }
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
  for (const std::string& setting : options.environment) {
    const size_t equals = setting.find('=');
    setenv(setting.substr(0, equals).c_str(),
           setting.substr(equals + 1).c_str(), 1);
  }
  setSignals(options);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Reads once from `fd` into `sink`; closes it at its end.
void readSome(int& fd, std::string& sink) {
  char buffer[65536];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    sink.append(buffer, static_cast<size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    close(fd);
    fd = -1;
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const ChildOptions& options)
    : options_(options) {
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  pointers.reserve(args.size() + 1);
  for (std::string& arg : args) pointers.push_back(&arg[0]);
  pointers.push_back(nullptr);
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  if (options.capture &&
      (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe");
  }
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int in = options.inputFd >= 0    ? options.inputFd
                 : options.input.empty() ? null
                                         : inputFile(options.input);
  const int childOut = options.capture         ? out[1]
                       : options.outputFd >= 0 ? options.outputFd
                                               : null;
  start_ = now();
  pid_ = fork();
  if (pid_ == 0) {
    execChild(pointers, options, in, childOut, options.capture ? err[1] : null);
  }
  if (in != null && in != options.inputFd) close(in);
  close(null);
  if (options.capture) {
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
  }
  if (pid_ < 0) throw std::runtime_error("fork");
}

bool ChildProcess::running() const {
  siginfo_t ended = {};
  return waitid(P_PID, pid_, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         ended.si_pid == 0;
}

ChildResult ChildProcess::wait() {
  ChildResult result;
  const double deadline = start_ + options_.timeoutSeconds;
  // A descriptor of the process itself turns readable when it ends.
  int ended = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  while (outFd_ >= 0 || errFd_ >= 0 || ended >= 0) {
    const double left = deadline - now();
    if (left <= 0) {
      kill(pid_, SIGKILL);
      result.timedOut = true;
      break;
    }
    // poll() leaves out a descriptor of -1.
    struct pollfd fds[3] = {
        {outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {ended, POLLIN, 0}};
    if (poll(fds, 3, static_cast<int>(left * 1000) + 1) <= 0) continue;
    if (fds[0].revents != 0) readSome(outFd_, result.out);
    if (fds[1].revents != 0) readSome(errFd_, result.err);
    if (fds[2].revents != 0) {
      close(ended);
      ended = -1;
    }
  }
  for (int* fd : {&outFd_, &errFd_, &ended}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  int status = 0;
  struct rusage usage = {};
  while (wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.seconds = now() - start_;
  result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  result.maxRssKiB = usage.ru_maxrss;
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (result.timedOut) {
    result.err +=
        "killed after " + std::to_string(options_.timeoutSeconds) + " s\n";
  }
  return result;
}

ChildResult runChild(const std::vector<std::string>& argv,
                     const ChildOptions& options) {
  return ChildProcess(argv, options).wait();
}
