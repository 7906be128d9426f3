#ifndef PLINKARD_OS_SIGNALS_H_
#define PLINKARD_OS_SIGNALS_H_

// SIGINT, SIGTERM, SIGHUP and SIGPIPE do not kill the program: they are
// noted, and the stages look at the note where they can stop cleanly. A
// reader of standard output that went away (SIGPIPE) thus ends the run the
// way Ctrl-C does, with the songs copied so far recorded.
namespace os {

// Installs the handlers. A signal that was ignored when the program started
// (nohup, a background job of a script) stays ignored; the handled ones are
// unblocked, so one that is pending already is noted at once. Interrupted
// system calls are restarted, so that no console output is lost to a
// signal; the copy still stops at the next chunk and the waits end.
void installInterruptHandlers();

// The number of the first signal received, or 0 when none arrived.
int interruptSignal();

// Blocks the signals above in the calling thread, so that their handler
// runs on a thread that is not in the middle of work done for another.
// For the threads a unit starts; the main thread keeps taking them.
void keepInterruptsFromThisThread();

// Waits until the descriptor `fd` has input, its end or an error to
// report. Returns false without waiting on when a signal was noted, before
// or during the wait.
bool waitForInput(int fd);

// Waits for one key on standard input: one key press without Enter and
// without echo on a terminal (whose mode is restored afterwards), otherwise
// one byte. The end of input, an error or a signal end the wait too.
void waitForKeyPress();

}  // namespace os

#endif  // PLINKARD_OS_SIGNALS_H_
