#ifndef PLINKARD_OS_HELD_FOLDER_H_
#define PLINKARD_OS_HELD_FOLDER_H_

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "os/descriptor.h"
#include "os/file_id.h"

namespace os {

// The file system that holds a folder, as far as it decides names and
// space.
struct VolumeInfo {
  // The file system's type: "vfat" (also msdos), "exfat", "ntfs", "ntfs3",
  // "ext4", "xfs", "btrfs", "tmpfs", "f2fs", a FUSE type as "fuse.<subtype>"
  // or "fuseblk", or "other".
  std::string type;
  uint64_t allocationUnit = 4096;  // bytes; what every file's size rounds up to
  uint64_t availableBytes = 0;     // to the calling user
  uint64_t nameMax = 255;          // bytes of one name
};

// The names in a folder and how the folder compares them.
struct FolderNames {
  std::vector<std::string> names;
  // Per name: listed as a file or a folder, so that a lookup of that very
  // name finds it (false for links and entries of unknown type).
  std::vector<bool> fileOrFolder;
  bool caseFolded = false;  // a folder that ignores case (ext4, f2fs, tmpfs)
};

// A folder held open from the moment it was found, so that names are looked
// up and created below the folder that was checked rather than below
// whatever its path leads to later. Relative texts below are relative to
// it; while nothing is held they are taken as paths of their own.
class HeldFolder {
 public:
  // Holds the folder at `path`. On failure nothing is held.
  std::error_code hold(const std::string& path);
  bool held() const { return folder_.valid(); }
  // For the platform layer's own use.
  const Descriptor& descriptor() const { return folder_; }

  // The id of the held folder.
  std::error_code identify(FileId& id) const;

  // Whether `path` still leads to the held folder: false when it now leads
  // elsewhere (an unmounted or replaced folder) or nowhere.
  bool reachedBy(const std::string& path) const;

  // The file system of the held folder.
  std::error_code volume(VolumeInfo& info) const;

  // Whether `path` (or, when it does not exist yet, its folder) lies on the
  // held folder's volume.
  bool onSameVolume(const std::string& path) const;

  // Whether something exists at `relative` (links followed). Nothing there,
  // or a non-folder on the way, is `exists` false.
  std::error_code probe(const char* relative, bool& exists) const;

  // The size the file system gives the folder `relative` ("" for the held
  // folder itself), links followed: on FAT and exFAT the bytes allocated to
  // its entries. ENOTDIR when something else stands there.
  std::error_code folderSize(const std::string& relative,
                             uint64_t& bytes) const;

  // The names in the folder `relative` ("" for the held folder itself).
  std::error_code listNames(const std::string& relative,
                            FolderNames& names) const;

  // Holds in `folder` the folder `relative` below the held one ("" for the
  // held one itself), entering each folder on the way as a folder of its
  // own and never through a link; with `create`, creates the missing ones
  // as `mkdir -p` does, adding them to `created` (when given, parents
  // first). A link on the way is ELOOP and a non-folder ENOTDIR, with
  // `blocked` set to the path up to it.
  std::error_code enter(const std::string& relative, bool create,
                        HeldFolder& folder,
                        std::vector<std::string>* created = nullptr,
                        std::string* blocked = nullptr) const;

  // Writes everything cached for the held folder's volume to its device.
  std::error_code syncVolume() const;

 private:
  Descriptor folder_;
};

// Whether `error` concerns the whole volume rather than one file: read-only
// now, an I/O error, the device or the connection gone.
bool affectsWholeVolume(const std::error_code& error);

}  // namespace os

#endif  // PLINKARD_OS_HELD_FOLDER_H_
