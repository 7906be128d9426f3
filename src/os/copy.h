#ifndef PLINKARD_OS_COPY_H_
#define PLINKARD_OS_COPY_H_

#include <functional>
#include <string>
#include <system_error>

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
};

// Copies the regular file `source` to `target`, which is created
// exclusively: the copy fails when anything exists there, so nothing is ever
// overwritten. The new file gets the source's permission bits. The data goes
// in chunks of a few MiB, with the kernel's in-place copy where it is
// offered, and `stop` is asked between chunks. Either path may be longer
// than the system's path limit (a song deep in a library). A target this
// call created is removed again when the copy fails or is stopped; one that
// existed before is never touched.
CopyResult copyFileExclusive(const std::string& source,
                             const std::string& target,
                             const std::function<bool()>& stop);

// Removes the file at `path`, which may be longer than the path limit.
std::error_code removeFile(const std::string& path);

}  // namespace os

#endif  // PLINKARD_OS_COPY_H_
