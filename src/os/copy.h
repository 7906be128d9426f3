#ifndef PLINKARD_OS_COPY_H_
#define PLINKARD_OS_COPY_H_

#include <functional>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/file_status.h"
#include "os/held_folder.h"

namespace os {

// How an exclusive copy ended.
enum class CopyStatus {
  Copied,       // the target is complete
  Failed,       // see the error; nothing of this call is left at the target
  Interrupted,  // `stop` said so between two chunks; the target is gone
};

struct CopyResult {
  CopyStatus status = CopyStatus::Failed;
  std::error_code error;  // set when Failed
  // The failure was the target's (creating, writing, flushing it) rather
  // than the source's (opening or reading it).
  bool targetSide = true;
};

struct CopyOptions {
  std::function<bool()> stop;  // asked between chunks
  // The target gets the source's access and modification times, as a move
  // keeps them.
  bool keepTimes = false;
  // Told the complete target's status and its ends as read back from it,
  // before it is closed; an error it returns fails the copy.
  std::function<std::error_code(const FileStatus&, const FileEnds&)> accept;
};

// A complete copy whose data may not be on the device yet. It keeps the
// target open, so that its flush reports any error in writing it back, and
// the source can go safely once that flush succeeded.
class UnflushedCopy {
 public:
  // Waits until the target's data is on the device, then closes it. On
  // failure the target is removed.
  std::error_code flush();

 private:
  friend CopyResult copyFileExclusive(const std::string&, const HeldFolder&,
                                      const std::string&, const CopyOptions&,
                                      UnflushedCopy*);
  Descriptor file_;
  Descriptor folder_;   // what `target_` is relative to, when not the cwd
  std::string target_;  // as given to the copy
};

// Copies the regular file `source` to `target` (relative to `below` when
// that holds a folder), which is created exclusively: the copy fails when
// anything exists there, so nothing is ever overwritten. The new file gets
// the source's permission bits. The data goes in chunks of a few MiB, with
// the kernel's in-place copy where it is offered. Either path may be longer
// than the system's path limit (a song deep in a library). A target this
// call created is removed again when the copy fails or is stopped; one that
// existed before is never touched. With `unflushed`, the data is handed to
// the device as it is written and a complete target is left open there for
// its flush, rather than closed; `below` must then outlive it.
CopyResult copyFileExclusive(const std::string& source, const HeldFolder& below,
                             const std::string& target,
                             const CopyOptions& options,
                             UnflushedCopy* unflushed = nullptr);

// Removes the file at `path`, which may be longer than the path limit.
std::error_code removeFile(const std::string& path);

}  // namespace os

#endif  // PLINKARD_OS_COPY_H_
