#ifndef PLINKARD_OS_FILES_BELOW_H_
#define PLINKARD_OS_FILES_BELOW_H_

#include <functional>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/file_status.h"
#include "os/held_folder.h"

// Files below a held folder that the program keeps track of, reached
// without ever following a link: every folder on the way is opened as a
// folder of its own, and a link there or at the end is never gone through.
// Relative paths are '/'-separated elements; an empty element, "." or ".."
// is refused with EINVAL, so nothing outside the held folder is reached.
// Nothing is reached while no folder is held (EBADF).
namespace os {

// What stands at `relative`. A missing file, a missing folder on the way
// or a name too long for the file system is Missing; a link or a
// non-folder in place of a folder is Other.
std::error_code statusBelow(const HeldFolder& folder,
                            const std::string& relative, FileStatus& status);

// Looks at `relative` as statusBelow does and removes it when it is a
// regular file and `remove` says so for its status. `status` is what was
// found there; `removed` whether it went.
std::error_code removeFileBelowIf(
    const HeldFolder& folder, const std::string& relative,
    const std::function<bool(const FileStatus&)>& remove, FileStatus& status,
    bool& removed);

// Removes the folder `relative` when it is an empty folder of its own.
// `removed` is false, without an error, when it is not empty, gone, or a
// link or something else stands there.
std::error_code removeEmptyFolderBelow(const HeldFolder& folder,
                                       const std::string& relative,
                                       bool& removed);

// Reads all of the regular file `relative`; ENOENT when nothing is there,
// ELOOP for a link, EINVAL for anything but a regular file.
std::error_code readFileBelow(const HeldFolder& folder,
                              const std::string& relative, std::string& text);

// Writes `text` as the file `relative`, whole or not at all: into a new
// file in the same folder, named `temporary` and the process id and
// created exclusively, onto the device, then renamed over `relative`, whose
// folder is flushed too. `written` is the new file's status as read back.
// On failure the new file is gone and `relative` untouched.
std::error_code replaceFileBelow(const HeldFolder& folder,
                                 const std::string& relative,
                                 const std::string& temporary,
                                 const std::string& text, FileStatus& written);

// Locks `folder` for this process while `lock` is open, so that a second
// run that keeps the same folder's record waits its turn: EWOULDBLOCK when
// another process holds the lock, the system's error when the file system
// cannot lock.
std::error_code lockFolder(const HeldFolder& folder, Descriptor& lock);

// A file below a held folder that is added to, line by line, for the whole
// run.
class AppendBelow {
 public:
  // Opens the existing regular file `relative` for adding.
  std::error_code open(const HeldFolder& folder, const std::string& relative);
  bool isOpen() const { return file_.valid(); }
  // Adds all of `text` or, when that fails, nothing: a piece that was
  // written is cut off again (or, where that fails, ended by the next
  // line end).
  std::error_code append(const std::string& text);
  // Writes what was added to the device.
  std::error_code sync();

 private:
  Descriptor file_;
  bool cutShort_ = false;  // a piece without its line end is at the end
};

}  // namespace os

#endif  // PLINKARD_OS_FILES_BELOW_H_
