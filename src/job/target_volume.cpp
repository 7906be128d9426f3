#include "job/target_volume.h"

#include <string>

namespace {

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

void setFat(TargetVolume& volume) {
  volume.fatNames = true;
  volume.fourGiBLimit = true;
  volume.shortNames = true;
  volume.entries = TargetVolume::Entries::Fat;
  // 65,536 entries of 32 bytes.
  volume.folderEntryBytes = uint64_t{32} << 16;
}

void setExFat(TargetVolume& volume) {
  volume.fatNames = true;
  volume.entries = TargetVolume::Entries::ExFat;
}

void setNtfs(TargetVolume& volume) {
  volume.fatNames = true;
  volume.shortNames = true;
  volume.entries = TargetVolume::Entries::Ntfs;
}

// The UTF-16 code units of a UTF-8 text: one per code point below U+10000,
// two above; a stray byte counts as one.
uint64_t utf16Units(const std::string& text) {
  uint64_t units = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

}  // namespace

TargetVolume describeVolume(const os::VolumeInfo& info) {
  TargetVolume volume;
  volume.allocationUnit = info.allocationUnit;
  // A system that tells no limit gets the usual one.
  volume.nameMax = info.nameMax > 0 ? info.nameMax : volume.nameMax;
  const std::string& type = info.type;
  if (type.compare(0, 4, "fuse") == 0) {
    // The listing of a FUSE file system is its program's; names follow the
    // file system it implements.
    if (contains(type, "exfat")) {
      setExFat(volume);
    } else if (contains(type, "ntfs") || type == "fuseblk") {
      setNtfs(volume);
    } else if (contains(type, "fat") || contains(type, "msdos")) {
      setFat(volume);
    }
    return volume;
  }
  if (type == "vfat") {
    setFat(volume);
    volume.folderSizeIsAllocation = true;
  } else if (type == "exfat") {
    setExFat(volume);
    volume.folderSizeIsAllocation = true;
  } else if (type == "ntfs" || type == "ntfs3") {
    setNtfs(volume);
  } else if (type == "ext4" || type == "xfs" || type == "btrfs" ||
             type == "tmpfs" || type == "f2fs") {
    volume.listing = TargetVolume::Listing::Exact;
  }
  if (volume.fatNames) volume.listing = TargetVolume::Listing::IgnoreCase;
  return volume;
}

uint64_t entryBytes(const TargetVolume& volume, const std::string& name) {
  const uint64_t units = utf16Units(name);
  switch (volume.entries) {
    case TargetVolume::Entries::Fat:
      // The short entry and a long-name entry per 13 units.
      return 32 * (1 + (units + 12) / 13);
    case TargetVolume::Entries::ExFat:
      // The file and stream entries and a name entry per 15 units.
      return 32 * (2 + (units + 14) / 15);
    case TargetVolume::Entries::Ntfs:
      // A record in the file table, and the name in its folder's index.
      return 1024 + 16 + 2 * units;
    default:
      // An ext4-like entry: eight bytes and the name, in steps of four.
      return (8 + name.size() + 3) / 4 * 4;
  }
}

FolderEntries listedEntries(const TargetVolume& volume,
                            const std::vector<std::string>& names) {
  FolderEntries entries{64, 2};
  for (const std::string& name : names) {
    if (name == "." || name == "..") continue;
    entries.bytes += entryBytes(volume, name);
    ++entries.count;
  }
  return entries;
}
