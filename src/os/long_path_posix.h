#ifndef PLINKARD_OS_LONG_PATH_POSIX_H_
#define PLINKARD_OS_LONG_PATH_POSIX_H_

// Shared by the POSIX files of the platform layer; nothing outside src/os
// includes this.

#include <fcntl.h>

#include <climits>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/posix_util.h"

namespace os {

// A path split for the *at() calls: the folder to start from and the text
// to look up relative to it. A text that the kernel would refuse as too long
// is walked down piece by piece first, each piece shorter than PATH_MAX.
class LongPath {
 public:
  explicit LongPath(const std::string& path, int base = AT_FDCWD)
      : base_(base) {
    size_t start = 0;
    while (path.size() - start >= PATH_MAX) {
      const size_t cut = path.rfind('/', start + PATH_MAX - 1);
      if (cut == std::string::npos || cut < start) {
        error_ = std::error_code(ENAMETOOLONG, std::generic_category());
        return;
      }
      const std::string piece =
          cut == 0 ? "/" : path.substr(start, cut - start);
      Descriptor next(
          openat(folder(), piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!next.valid()) {
        error_ = lastError();
        return;
      }
      folder_ = std::move(next);
      start = cut + 1;
    }
    rest_ = path.c_str() + start;
  }

  // Set when the walk did not reach the last folder.
  const std::error_code& error() const { return error_; }
  int folder() const { return folder_.valid() ? folder_.get() : base_; }
  const char* rest() const { return rest_; }

 private:
  int base_;
  Descriptor folder_;
  const char* rest_ = "";
  std::error_code error_;
};

}  // namespace os

#endif  // PLINKARD_OS_LONG_PATH_POSIX_H_
