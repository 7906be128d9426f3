#ifndef PLINKARD_APP_EXIT_PROGRAM_H_
#define PLINKARD_APP_EXIT_PROGRAM_H_

#include <ostream>

// The one way out of the program. With `wait`, prints "Press any key to
// continue . . . " to `out` and waits for one key (on a terminal) or one
// byte of standard input (end of input ends the wait), then a line end.
// Then ends the process with `status`, or with 128 + n when signal n
// arrived before the wait ended.
[[noreturn]] void exitProgram(std::ostream& out, int status, bool wait);

// The wait alone: returns after one key or byte, at end of input, on a read
// error or when a signal interrupts the read.
void waitForKey(std::ostream& out);

#endif  // PLINKARD_APP_EXIT_PROGRAM_H_
