#include "job/interrupt.h"

#include <poll.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

// The signals whose handler was installed.
sigset_t handledSignals;

void noteSignal(int signal) {
  if (receivedSignal == 0) receivedSignal = signal;
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

int interruptSignal() { return receivedSignal; }

bool waitForInput(int fd) {
  // The handled signals stay blocked except inside ppoll, so one that
  // arrives after the look at the note still ends the wait.
  sigset_t previous;
  sigprocmask(SIG_BLOCK, &handledSignals, &previous);
  bool ready = false;
  while (!ready && receivedSignal == 0) {
    struct pollfd input = {fd, POLLIN, 0};
    ready = ppoll(&input, 1, nullptr, &previous) > 0 || errno != EINTR;
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return ready;
}

void raiseInterrupt(int signal) { noteSignal(signal); }

void clearInterrupt() { receivedSignal = 0; }
