#ifndef PLINKARD_OS_COPY_H_
#define PLINKARD_OS_COPY_H_

#include <functional>
#include <string>
#include <system_error>

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
  // The data reaches the device before the copy counts as complete, so that
  // the source can go safely.
  bool syncData = false;
  // The target gets the source's access and modification times, as a move
  // keeps them.
  bool keepTimes = false;
};

// Copies the regular file `source` to `target` (relative to `below` when
// that holds a folder), which is created exclusively: the copy fails when
// anything exists there, so nothing is ever overwritten. The new file gets
// the source's permission bits. The data goes in chunks of a few MiB, with
// the kernel's in-place copy where it is offered. Either path may be longer
// than the system's path limit (a song deep in a library). A target this
// call created is removed again when the copy fails or is stopped; one that
// existed before is never touched.
CopyResult copyFileExclusive(const std::string& source, const HeldFolder& below,
                             const std::string& target,
                             const CopyOptions& options);

// Removes the file at `path`, which may be longer than the path limit.
std::error_code removeFile(const std::string& path);

}  // namespace os

#endif  // PLINKARD_OS_COPY_H_
