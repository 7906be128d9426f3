#ifndef PLINKARD_OS_APPEND_FILE_H_
#define PLINKARD_OS_APPEND_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/held_folder.h"

namespace os {

// A text file that is only ever added to, whose additions can be taken back.
class AppendFile {
 public:
  // Opens `path` for appending, creating it when it is missing. Read access
  // is asked for too, so that the last byte can be looked at, but is not
  // needed. With `below`, `path` is relative to the folder it holds.
  std::error_code open(const std::string& path);
  std::error_code open(const HeldFolder& below, const std::string& path);

  // The file's size now.
  uint64_t size() const;

  // Whether the file is empty or ends with a line end. A file whose last
  // byte cannot be read is taken to end with one.
  bool endsWithLineEnd() const;

  // Writes all of `text` at the end; returns how much was written before an
  // error, which is then in `error`.
  size_t write(const std::string& text, std::error_code& error);

  // Cuts the file back to `length` bytes.
  std::error_code truncate(uint64_t length);

  // Writes what was added to the device. A file that cannot be flushed (a
  // pipe, a device) has nothing to write back: no error.
  std::error_code sync();

 private:
  Descriptor file_;
};

// Whether the file at `path` could be opened for reading; it is opened and
// closed again, and nothing else is done to it.
std::error_code checkReadable(const std::string& path);

// Whether the caller may append to the file at `path` (relative to the
// folder `below` holds, when it holds one), or create it there when it is
// missing. Nothing is created or changed: a folder, a missing folder on the
// way, no permission and a read-only volume are told by their errors.
std::error_code checkAppendable(const HeldFolder& below,
                                const std::string& path);

}  // namespace os

#endif  // PLINKARD_OS_APPEND_FILE_H_
