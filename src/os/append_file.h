#ifndef PLINKARD_OS_APPEND_FILE_H_
#define PLINKARD_OS_APPEND_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "os/descriptor.h"

namespace os {

// A text file that is only ever added to, whose additions can be taken back.
class AppendFile {
 public:
  // Opens `path` for appending, creating it when it is missing. Read access
  // is asked for too, so that the last byte can be looked at, but is not
  // needed.
  std::error_code open(const std::string& path);

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

  // Writes what was added to the device.
  std::error_code sync();

 private:
  Descriptor file_;
};

}  // namespace os

#endif  // PLINKARD_OS_APPEND_FILE_H_
