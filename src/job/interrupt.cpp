#include "job/interrupt.h"

#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

void noteSignal(int signal) {
  if (receivedSignal == 0) receivedSignal = signal;
}

}  // namespace

void installInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = noteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int interruptSignal() { return receivedSignal; }

void raiseInterrupt(int signal) { noteSignal(signal); }

void clearInterrupt() { receivedSignal = 0; }
