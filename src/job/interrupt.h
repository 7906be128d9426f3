#ifndef PLINKARD_JOB_INTERRUPT_H_
#define PLINKARD_JOB_INTERRUPT_H_

// SIGINT, SIGTERM and SIGHUP do not kill the program: they are noted, and
// the stages look at the note where they can stop cleanly.

// Installs the handlers. Blocking calls are not restarted after a signal,
// so a wait for a key or a copy returns early and the note is seen.
void installInterruptHandlers();

// The number of the first signal received, or 0 when none arrived.
int interruptSignal();

// Notes `signal` as if it had been received (for tests).
void raiseInterrupt(int signal);

// Forgets a noted signal (for tests).
void clearInterrupt();

#endif  // PLINKARD_JOB_INTERRUPT_H_
