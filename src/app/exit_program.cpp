#include "app/exit_program.h"

#include <cstdlib>

#include "os/signals.h"

void waitForKey(std::ostream& out) {
  out << "Press any key to continue . . . " << std::flush;
  os::waitForKeyPress();
  out << std::endl;
}

void exitProgram(std::ostream& out, int status, bool wait) {
  if (wait) {
    waitForKey(out);
    // A signal that ended the wait ends the run as one at any other time.
    const int signal = os::interruptSignal();
    if (signal != 0) status = 128 + signal;
  }
  out.flush();
  std::exit(status);
}
