#ifndef PLINKARD_OS_READ_FILE_H_
#define PLINKARD_OS_READ_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/file_status.h"

namespace os {

// The status of the file at `path`, links followed, for a path of any
// length. Nothing there (or a non-folder on the way) is Kind::Missing and
// no error; a link that leads to a regular file is a RegularFile.
std::error_code statusFollowing(const std::string& path, FileStatus& status);

// A regular file open for reading at any offset, closed when it goes.
class ReadOnlyFile {
 public:
  // Opens the regular file at `path` (of any length, links followed)
  // without waiting on a pipe that stands there; anything but a regular
  // file is refused with EINVAL (EISDIR for a folder).
  std::error_code open(const std::string& path);

  bool isOpen() const { return file_.valid(); }
  // Its status as it was opened.
  const FileStatus& status() const { return status_; }
  // Reads up to `length` bytes at `offset` into `data`; `got` is less than
  // `length` only at the file's end or on an error.
  std::error_code readAt(uint64_t offset, char* data, size_t length,
                         size_t& got) const;

 private:
  Descriptor file_;
  FileStatus status_;
};

}  // namespace os

#endif  // PLINKARD_OS_READ_FILE_H_
