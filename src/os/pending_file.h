#ifndef PLINKARD_OS_PENDING_FILE_H_
#define PLINKARD_OS_PENDING_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/held_folder.h"

// Files read and written at positions of their own, for a library that
// reads and writes through callbacks (several readers may share one
// descriptor), and a file that is written under a temporary name and takes
// its real name only when whole.
namespace os {

// Opens the regular file at `path`, which may be longer than the path
// limit, for reading. Anything else there (a folder, a pipe) is refused.
std::error_code openForReading(const std::string& path, Descriptor& file);

// Reads up to `size` bytes at `offset`; `got` is 0 at the end of the file.
std::error_code readAt(const Descriptor& file, uint64_t offset, void* data,
                       size_t size, size_t& got);

// Writes all `size` bytes at `offset`.
std::error_code writeAt(const Descriptor& file, uint64_t offset,
                        const void* data, size_t size);

// The file's size now.
std::error_code sizeOf(const Descriptor& file, uint64_t& size);

// Makes the file `size` bytes long, cutting it or adding zeros.
std::error_code resize(const Descriptor& file, uint64_t size);

// A new file written under a temporary name in the folder of its target
// (".<tag>.<process id>.<n>.tmp"), flushed and then given the target's name
// without ever replacing a file there. Until then it is removed when the
// object goes, so no partial file is ever left under the target's name,
// and none under the temporary one unless the process is killed (see
// removeLeftovers).
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile() { discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;

  // Creates the temporary file, readable and writable, in the folder of
  // `target` (relative to `below` when that holds a folder, which must then
  // outlive this object). The folder must exist.
  std::error_code create(const HeldFolder& below, const std::string& target,
                         const std::string& tag);
  bool created() const { return file_.valid(); }
  const Descriptor& descriptor() const { return file_; }

  // Waits until the data is on the device and closes the file.
  std::error_code flush();
  // Gives the flushed file its target's name. EEXIST when something is
  // there already, which stays untouched; the temporary file then remains
  // for discard(). After success the object no longer owns the file.
  std::error_code place();
  // Removes the temporary file, when there is one.
  void discard();

 private:
  Descriptor folder_;  // the target's folder
  Descriptor file_;
  std::string name_;    // temporary, in `folder_`
  std::string target_;  // last element of the target
  bool exists_ = false;
};

// Removes from the folder `folder` (relative to `below` when it holds one)
// the temporary files of PendingFile with `tag` that a process left which
// runs no longer (killed, or its machine went down). Returns how many went;
// a folder that cannot be listed removes none and is no error.
size_t removeLeftovers(const HeldFolder& below, const std::string& folder,
                       const std::string& tag);

}  // namespace os

#endif  // PLINKARD_OS_PENDING_FILE_H_
