#include "app/exit_program.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "job/interrupt.h"

void waitForKey() {
  std::cout << "Press any key to continue . . . " << std::flush;
  char key;
  struct termios saved;
  if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
    // One key press, without Enter and without echo.
    struct termios raw = saved;
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    if (waitForInput(STDIN_FILENO) && read(STDIN_FILENO, &key, 1) < 0) {
      // A signal or an error ends the wait as a key would.
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  } else if (waitForInput(STDIN_FILENO) && read(STDIN_FILENO, &key, 1) < 0) {
    // End of input, a closed descriptor or an error: no key will come.
  }
  std::cout << std::endl;
}

void exitProgram(int status, bool wait) {
  if (wait) waitForKey();
  std::cout.flush();
  std::exit(status);
}
