#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <initializer_list>

#include "os/signals.h"
#include "os/signals_for_tests.h"

namespace os {

namespace {

// Atomic rather than volatile: threads other than the one that took the
// signal read it too.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

// The signals whose handler was installed.
sigset_t handledSignals;

void noteSignal(int signal) {
  int none = 0;
  receivedSignal.compare_exchange_strong(none, signal);
}

// Reads the one key or byte that ends a wait, if it comes.
void readOneByte() {
  char key;
  if (waitForInput(STDIN_FILENO) && read(STDIN_FILENO, &key, 1) < 0) {
    // End of input, a closed descriptor, an error or a signal: no key will
    // come, and the wait is over as if one had.
  }
}

}  // namespace

void installInterruptHandlers() {
  sigemptyset(&handledSignals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction previous;
    if (sigaction(signal, nullptr, &previous) == 0 &&
        previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action = {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(signal, &action, nullptr) == 0) {
      sigaddset(&handledSignals, signal);
    }
  }
  sigprocmask(SIG_UNBLOCK, &handledSignals, nullptr);
}

int interruptSignal() { return receivedSignal.load(); }

void keepInterruptsFromThisThread() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    sigaddset(&signals, signal);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool waitForInput(int fd) {
  // The handled signals stay blocked except inside ppoll, so one that
  // arrives after the look at the note still ends the wait.
  sigset_t previous;
  sigprocmask(SIG_BLOCK, &handledSignals, &previous);
  bool ready = false;
  while (!ready && receivedSignal.load() == 0) {
    struct pollfd input = {fd, POLLIN, 0};
    ready = ppoll(&input, 1, nullptr, &previous) > 0 || errno != EINTR;
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return ready;
}

void waitForKeyPress() {
  struct termios saved;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
    readOneByte();
    return;
  }
  // One key press, without Enter and without echo.
  struct termios raw = saved;
  raw.c_lflag &= ~(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  readOneByte();
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void raiseInterrupt(int signal) { noteSignal(signal); }

void clearInterrupt() { receivedSignal.store(0); }

}  // namespace os
