#ifndef PLINKARD_JOB_TARGET_VOLUME_H_
#define PLINKARD_JOB_TARGET_VOLUME_H_

#include <cstdint>
#include <string>
#include <vector>

#include "os/held_folder.h"

// What the output folder's file system allows and how it spends space, as
// far as the stages have to know it.
struct TargetVolume {
  // How far a listing of a target folder tells whether a name is taken.
  enum class Listing {
    None,        // not at all: every target is looked up
    Exact,       // a name is taken when the listing holds it, byte for byte
    IgnoreCase,  // or a name the system takes for it in another case
  };
  // What a file's name costs in its folder.
  enum class Entries { Fat, ExFat, Ntfs, Other };

  // Names are mapped to ones the file system accepts (the FAT family).
  bool fatNames = false;
  // No file of 4 GiB or more (FAT32 and its kin).
  bool fourGiBLimit = false;
  // Names with '~' may be another file's short alias (vfat, NTFS).
  bool shortNames = false;
  Listing listing = Listing::None;
  Entries entries = Entries::Other;
  uint64_t allocationUnit = 4096;  // bytes
  uint64_t nameMax = 255;          // bytes of one name
  // The most bytes of directory entries one folder holds, "." and ".."
  // included; 0 where folders have no such limit.
  uint64_t folderEntryBytes = 0;
  // A folder's size is the bytes allocated to its entries, and a new entry
  // takes the first run of free 32-byte slots that holds it, the slots of
  // deleted entries included (FAT and exFAT in the kernel).
  bool folderSizeIsAllocation = false;

  // Whether the planner counts the entries that existing folders hold.
  bool countsFolderEntries() const {
    return folderEntryBytes != 0 || folderSizeIsAllocation;
  }
};

// The directory entries of a folder, as a listing shows them.
struct FolderEntries {
  uint64_t bytes = 0;  // of all its entries
  uint64_t count = 0;  // entries, "." and ".." included
};

// The traits of a file system by its type as the platform layer names it;
// under FUSE by the subtype. A type it does not know keeps the defaults:
// names as they are, and every target looked up.
TargetVolume describeVolume(const os::VolumeInfo& info);

// The bytes that the directory entries of a file named `name` take.
uint64_t entryBytes(const TargetVolume& volume, const std::string& name);

// The directory entries of a folder listing `names`: each name's bytes as
// entryBytes counts them, and "." and ".." as one 32-byte entry each,
// whether the listing shows them or not.
FolderEntries listedEntries(const TargetVolume& volume,
                            const std::vector<std::string>& names);

#endif  // PLINKARD_JOB_TARGET_VOLUME_H_
