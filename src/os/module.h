#ifndef PLINKARD_OS_MODULE_H_
#define PLINKARD_OS_MODULE_H_

#include <string>

namespace os {

// A shared module loaded at run time, and the address of the symbol asked
// for in it. It stays loaded: its code may be in use until the end.
struct Module {
  void* handle = nullptr;
  void* symbol = nullptr;
};

// Loads the shared module at `path` and looks up `symbol` in it; a Module
// of null pointers, with `error` set to the loader's reason, when either
// fails.
Module loadModule(const std::string& path, const char* symbol,
                  std::string& error);

// The folder that holds the running program's file, "" when the system
// does not say.
std::string programFolder();

}  // namespace os

#endif  // PLINKARD_OS_MODULE_H_
