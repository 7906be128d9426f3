#ifndef PLINKARD_JOB_INTERRUPT_H_
#define PLINKARD_JOB_INTERRUPT_H_

// SIGINT, SIGTERM, SIGHUP and SIGPIPE do not kill the program: they are
// noted, and the stages look at the note where they can stop cleanly. A
// reader of standard output that went away (SIGPIPE) thus ends the run the
// way Ctrl-C does, with the songs copied so far recorded.

// Installs the handlers. A signal that was ignored when the program started
// (nohup, a background job of a script) stays ignored; the handled ones are
// unblocked, so one that is pending already is noted at once. Interrupted
// system calls are restarted, so that no console output is lost to a
// signal; the copy still stops at the next chunk and waitForInput ends.
void installInterruptHandlers();

// The number of the first signal received, or 0 when none arrived.
int interruptSignal();

// Waits until `fd` has input, its end or an error to report. Returns false
// without waiting on when a signal was noted, before or during the wait.
bool waitForInput(int fd);

// Notes `signal` as if it had been received (for tests).
void raiseInterrupt(int signal);

// Forgets a noted signal (for tests).
void clearInterrupt();

#endif  // PLINKARD_JOB_INTERRUPT_H_
