#ifndef PLINKARD_APP_EXIT_PROGRAM_H_
#define PLINKARD_APP_EXIT_PROGRAM_H_

// The one way out of the program. With `wait`, prints "Press any key to
// continue . . . " and waits for one key (on a terminal) or one byte of
// standard input (end of input ends the wait), then a line end. Then ends
// the process with `status`.
[[noreturn]] void exitProgram(int status, bool wait);

// The wait alone: returns after one key or byte, at end of input, on a read
// error or when a signal interrupts the read.
void waitForKey();

#endif  // PLINKARD_APP_EXIT_PROGRAM_H_
