#ifndef PLINKARD_OS_FILES_BELOW_H_
#define PLINKARD_OS_FILES_BELOW_H_

#include <functional>
#include <string>
#include <string_view>
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

// A regular file below a held folder that is looked at, and removed or
// not, as one and the same file: it is first put aside under a name of the
// program's own in its folder (never over another file), then looked at
// through a descriptor, then removed or put back. So a file that another
// program puts at its name meanwhile is never looked at, nor removed, in
// its place. A file that stays aside when the program is stopped is put
// back by the next run that looks for it (putBackLeftAside).
class FileAside {
 public:
  FileAside() = default;
  FileAside(const FileAside&) = delete;
  FileAside& operator=(const FileAside&) = delete;
  // A file still aside is put back.
  ~FileAside();

  // Puts the file `relative` aside and opens it. EEXIST when the name it
  // would take is taken; nothing is aside after a failure.
  std::error_code putAside(const HeldFolder& folder,
                           const std::string& relative);
  // What the file aside is, read through its descriptor.
  const FileStatus& status() const { return status_; }
  std::error_code readEnds(FileEnds& ends) const;
  // Removes the file aside.
  std::error_code remove();
  // Gives the file its name again. EEXIST, with the file still aside under
  // asideName(), when another file took the name meanwhile.
  std::error_code putBack();
  const std::string& asideName() const { return aside_; }

 private:
  Descriptor folder_;
  Descriptor file_;
  std::string name_, aside_;
  FileStatus status_;
  bool isAside_ = false;
};

// The name under which FileAside puts a file of the name `name`: the same
// for the same name, and one of the program's own (".plinkard-aside-...").
std::string asideNameOf(const std::string& name);

// When nothing stands at `relative` but a file that a stopped run put
// aside from there, gives it its name again; `putBack` says whether.
std::error_code putBackLeftAside(const HeldFolder& folder,
                                 const std::string& relative, bool& putBack);

// Opens the regular file `relative` for reading, without following a link,
// and reads its status and its ends.
std::error_code readEndsBelow(const HeldFolder& folder,
                              const std::string& relative, FileStatus& status,
                              FileEnds& ends);

// Removes the folder `relative` when it is an empty folder of its own.
// `removed` is false, without an error, when it is not empty, gone, or a
// link or something else stands there.
std::error_code removeEmptyFolderBelow(const HeldFolder& folder,
                                       const std::string& relative,
                                       bool& removed);

// Reads the regular file `relative` line by line, handing each line
// (without its LF) to `line` with whether an LF ended it, until `line`
// returns false or the file ends. A line longer than `maxLine` bytes is
// handed on cut to that length. ENOENT when nothing is there, ELOOP for a
// link, EINVAL for anything but a regular file, EFBIG for one of more than
// `maxBytes`.
std::error_code readLinesBelow(
    const HeldFolder& folder, const std::string& relative, uint64_t maxBytes,
    size_t maxLine, const std::function<bool(std::string_view, bool)>& line);

// Writes `text` as the file `relative`, whole or not at all: into a new
// file in the same folder, named `temporary` and the process id and
// created exclusively, onto the device, then renamed over `relative`, whose
// folder is flushed too. `written` is the new file's status as read back;
// `replaced` whether the new file took the name. On failure before that the
// new file is gone and `relative` untouched; an error with `replaced` is the
// folder's flush.
std::error_code replaceFileBelow(const HeldFolder& folder,
                                 const std::string& relative,
                                 const std::string& temporary,
                                 const std::string& text, FileStatus& written,
                                 bool& replaced);

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
