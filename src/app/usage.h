#ifndef PLINKARD_APP_USAGE_H_
#define PLINKARD_APP_USAGE_H_

#include <ostream>

// Prints the 39 lines of the usage text.
void printUsage(std::ostream& out);

#endif  // PLINKARD_APP_USAGE_H_
