#ifndef PLINKARD_OS_POSIX_UTIL_H_
#define PLINKARD_OS_POSIX_UTIL_H_

// Small pieces that the POSIX files of the platform layer share; nothing
// outside src/os includes this.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/file_id.h"
#include "os/file_status.h"

namespace os {

// errno as an error code of the generic category.
inline std::error_code lastError() {
  return std::error_code(errno, std::generic_category());
}

// The errors a lookup gives when nothing is there, or a non-folder is on
// the way.
inline bool meansMissing(int error) {
  return error == ENOENT || error == ENOTDIR;
}

inline FileId idOf(const struct stat& st) {
  return FileId{static_cast<uint64_t>(st.st_dev),
                static_cast<uint64_t>(st.st_ino)};
}

// The id of what the descriptor `fd` refers to.
inline std::error_code identifyDescriptor(int fd, FileId& id) {
  struct stat st;
  if (fstat(fd, &st) != 0) return lastError();
  id = idOf(st);
  return {};
}

// What a status of the system says, in the terms of FileStatus.
FileStatus statusOfStat(const struct stat& st);

// Reads the ends of the open file `fd` of `size` bytes (see FileEnds).
std::error_code readEnds(int fd, uint64_t size, FileEnds& ends);

// Writes all of `text` to `fd`.
std::error_code writeAll(int fd, const std::string& text);

}  // namespace os

#endif  // PLINKARD_OS_POSIX_UTIL_H_
