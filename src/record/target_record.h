#ifndef PLINKARD_RECORD_TARGET_RECORD_H_
#define PLINKARD_RECORD_TARGET_RECORD_H_

#include <cstdint>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "os/files_below.h"
#include "os/held_folder.h"
#include "record/record.h"

// The record of the output folder as one run keeps it (with -r or -p):
// read before the scan, written anew once the songs of earlier fills are
// removed, and added to, line by line, as songs and folders land, so that
// it is complete on the card whenever the run stops. Every access goes
// through the held output folder. It also holds what the run decided about
// it: the playlist's path and the failures to report in the exit status.
class TargetRecord {
 public:
  // Keeps other runs from the record of `folder` until this one ends:
  // EWOULDBLOCK while another run holds it.
  std::error_code lock(const os::HeldFolder& folder) {
    return os::lockFolder(folder, lock_);
  }

  // Reads the record of `folder`: an empty one, with found() false, when
  // there is none; NotARecord for one over kMaxRecordBytes. The errors are
  // the system's.
  std::error_code read(const os::HeldFolder& folder, RecordFormat& format,
                       std::vector<RecordProblem>& problems, unsigned& version);
  bool found() const { return found_; }

  // Writes `entries` as the whole record, then keeps it open for adding;
  // `written` whether the new record took its name. An error with
  // `written` is the failed flush of its folder (or the failed open).
  std::error_code writeAnew(const os::HeldFolder& folder, bool& written);
  bool isOpen() const { return file_.isOpen(); }

  // Adds a line, both to the file and to `entries`. A path that may not
  // stand in a record is refused with EINVAL.
  std::error_code addSong(const RecordedSong& song);
  std::error_code addFolder(const std::string& path);
  std::error_code addPlaylist(const RecordedFile& playlist);

  // Writes what was added to the device.
  std::error_code sync() { return file_.sync(); }

  // The playlist of that path, or null.
  const RecordedFile* playlist(const std::string& path) const;

  // Whether a dry run found that the real run would remove `relative`.
  bool removedInDryRun(const std::string& relative) const {
    return !dryRunRemovals.empty() && dryRunRemovals.count(relative) != 0;
  }

  Record entries;
  std::unordered_set<std::string> dryRunRemovals;
  std::string playlistPath;  // below the output folder, as the target names it
  uint32_t failures = 0;     // songs not removed, a playlist not written

 private:
  bool found_ = false;
  os::AppendBelow file_;
  os::Descriptor lock_;
};

#endif  // PLINKARD_RECORD_TARGET_RECORD_H_
