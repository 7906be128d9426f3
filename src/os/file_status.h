#ifndef PLINKARD_OS_FILE_STATUS_H_
#define PLINKARD_OS_FILE_STATUS_H_

#include <cstdint>
#include <string>

#include "os/file_id.h"

namespace os {

// A modification time as the file system gives it back: seconds since the
// epoch and the nanoseconds within that second. FAT keeps two seconds of
// resolution and local time, exFAT ten milliseconds.
struct FileTime {
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
};

// What stands at a path, looked at without following a link there.
struct FileStatus {
  enum class Kind {
    Missing,      // nothing there
    RegularFile,  // a file of its own, not a link to one
    Directory,
    // A link, a device or a pipe; or a link or a non-folder in place of one
    // of the folders on the way.
    Other,
  };
  Kind kind = Kind::Missing;
  uint64_t size = 0;  // bytes
  FileTime modified;
  FileId id;  // of what stands there, when something does
};

// How much of each end of a file is read to tell its bytes apart.
constexpr uint64_t kEndBytes = 65536;

// A file's first kEndBytes, and after them at most its last kEndBytes.
struct FileEnds {
  std::string head;
  std::string tail;
};

}  // namespace os

#endif  // PLINKARD_OS_FILE_STATUS_H_
