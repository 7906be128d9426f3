#ifndef PLINKARD_OS_FILE_ID_H_
#define PLINKARD_OS_FILE_ID_H_

#include <cstddef>
#include <cstdint>

namespace os {

// What tells one file or folder from every other on the system: its
// device and its inode. Two paths lead to the same thing exactly when their
// ids are equal (links, bind mounts, a folder given twice).
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;

  bool operator==(const FileId& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator!=(const FileId& other) const { return !(*this == other); }
  bool operator<(const FileId& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};

}  // namespace os

#endif  // PLINKARD_OS_FILE_ID_H_
