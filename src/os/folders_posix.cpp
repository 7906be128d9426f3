#include <sys/stat.h>

#include <cstdio>

#include "os/folders.h"
#include "os/posix_util.h"

namespace os {

std::error_code createPrivateFolders(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode)
               ? std::error_code()
               : std::error_code(EEXIST, std::generic_category());
  }
  const size_t slash = path.find_last_not_of('/') == std::string::npos
                           ? std::string::npos
                           : path.rfind('/', path.find_last_not_of('/'));
  if (slash != std::string::npos && slash > 0) {
    if (const std::error_code error =
            createPrivateFolders(path.substr(0, slash))) {
      return error;
    }
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return lastError();
  return {};
}

std::error_code renamePath(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? std::error_code()
                                                    : lastError();
}

}  // namespace os
