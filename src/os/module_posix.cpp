#include <dlfcn.h>
#include <unistd.h>

#include <vector>

#include "os/module.h"

namespace os {

Module loadModule(const std::string& path, const char* symbol,
                  std::string& error) {
  // Its symbols stay its own (RTLD_LOCAL) and are bound at once, so that a
  // module built for another program fails here rather than mid-song.
  Module module;
  module.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module.handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : path + ": cannot be loaded";
    return module;
  }
  module.symbol = dlsym(module.handle, symbol);
  if (module.symbol == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : path + ": " + symbol + " not found";
    dlclose(module.handle);
    module.handle = nullptr;
  }
  return module;
}

std::string programFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length =
        readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<size_t>(length) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<size_t>(length));
      const size_t slash = path.rfind('/');
      return slash == std::string::npos ? "" : path.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace os
