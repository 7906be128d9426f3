#ifndef PLINKARD_TRANSFER_FILE_COPY_H_
#define PLINKARD_TRANSFER_FILE_COPY_H_

#include <string>

// copyFileExclusive's result when a signal stopped the copy.
constexpr int kCopyInterrupted = -1;

// Copies the regular file `source` to `target`, which is created
// exclusively: the copy fails when anything exists there, so nothing is ever
// overwritten. The new file gets the source's permission bits. The data goes
// in chunks of a few MiB, with the kernel's in-place copy where it is
// offered, and interruptSignal() is looked at between chunks. Either path
// may be longer than PATH_MAX (a song deep in a library).
//
// Returns 0 when the copy is complete, kCopyInterrupted, or the errno value
// of the failure. After a failure or an interrupt, the target that this call
// created is removed again; a target that existed before is never touched.
int copyFileExclusive(const std::string& source, const std::string& target);

// Removes the file at `path`, which may be longer than PATH_MAX. Returns 0
// or the errno value of the failure.
int removeFile(const std::string& path);

#endif  // PLINKARD_TRANSFER_FILE_COPY_H_
