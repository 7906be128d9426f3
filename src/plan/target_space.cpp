#include "plan/target_space.h"

#include <string>
#include <unordered_map>

#include "job/fill_job.h"
#include "job/paths.h"
#include "record/playlist.h"
#include "record/record.h"
#include "usedlist/used_list.h"

namespace {

uint64_t roundUp(uint64_t bytes, uint64_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

// The folders of the targets, each entered once.
class FolderTable {
 public:
  FolderTable(const FillJob& job, SpaceCosts& costs)
      : job_(job), costs_(costs) {}

  // The folder `relative` below the output folder ("" for itself).
  uint32_t folder(const std::string& relative) {
    const auto found = known_.find(relative);
    if (found != known_.end()) return found->second;
    SpaceCosts::Folder folder;
    bool exists = true;
    if (!relative.empty()) job_.outputFolder.probe(relative.c_str(), exists);
    if (!exists) {
      const size_t slash = relative.rfind('/');
      folder.missing = true;
      folder.entryBytes =
          entryBytes(job_.targetVolume, relative.substr(slash + 1));
      if (job_.keepsRecord()) {
        folder.lineBytes = folderLine(recordPath(relative)).size();
      }
      folder.parent = this->folder(
          slash == std::string::npos ? "" : relative.substr(0, slash));
    }
    costs_.folders.push_back(folder);
    const uint32_t index = static_cast<uint32_t>(costs_.folders.size() - 1);
    known_.emplace(relative, index);
    return index;
  }

 private:
  const FillJob& job_;
  SpaceCosts& costs_;
  std::unordered_map<std::string, uint32_t> known_;
};

// The entries a choice has put in each folder so far, and the units they
// take. A created folder starts with its "." and ".." entries in one unit.
struct FolderUse {
  bool created = false;
  uint64_t bytes = 0;
  uint64_t units = 0;
};

// What a choice has done to the folders, and what one more song would cost.
class Choice {
 public:
  explicit Choice(const SpaceCosts& costs)
      : costs_(costs), use_(costs.folders.size()) {}

  // The bytes song `position` takes, with the folders it has to create;
  // with `take`, they are taken.
  uint64_t cost(uint32_t position, bool take) {
    changed_.clear();
    const uint32_t folder = costs_.folderOf[position];
    uint64_t bytes = costs_.fileBytes[position] + ensure(folder);
    bytes += addEntry(folder, costs_.entryBytes[position]);
    if (!take) {
      for (auto it = changed_.rbegin(); it != changed_.rend(); ++it) {
        use_[it->first] = it->second;
      }
    }
    return bytes;
  }

 private:
  // Makes sure `folder` exists in this choice; returns the bytes that took.
  uint64_t ensure(uint32_t folder) {
    const SpaceCosts::Folder& f = costs_.folders[folder];
    if (!f.missing || use_[folder].created) return 0;
    const uint64_t parent = ensure(f.parent) + addEntry(f.parent, f.entryBytes);
    remember(folder);
    use_[folder] = FolderUse{true, 64, 1};
    return parent + costs_.unit + f.lineBytes;
  }

  // Adds `entry` bytes to `folder`; returns the bytes of new units.
  uint64_t addEntry(uint32_t folder, uint64_t entry) {
    remember(folder);
    FolderUse& use = use_[folder];
    use.bytes += entry;
    const uint64_t units = (use.bytes + costs_.unit - 1) / costs_.unit;
    const uint64_t added = units > use.units ? units - use.units : 0;
    use.units += added;
    return added * costs_.unit;
  }

  void remember(uint32_t folder) {
    changed_.emplace_back(folder, use_[folder]);
  }

  const SpaceCosts& costs_;
  std::vector<FolderUse> use_;
  std::vector<std::pair<uint32_t, FolderUse>> changed_;  // to take back
};

}  // namespace

SpaceCosts spaceCostsOf(const FillJob& job) {
  SpaceCosts costs;
  costs.unit = job.targetVolume.allocationUnit;
  const std::string& output = job.outputDir.native();
  const bool listHere =
      job.bWriteUsedList && job.outputFolder.held() &&
      job.outputFolder.onSameVolume(absoluteForm(job.usedListPath));
  if (listHere) costs.reserved = costs.unit;
  const std::string& playlist = job.record.playlistPath;
  if (job.keepsRecord()) costs.reserved += costs.unit;
  // The playlist is written anew beside the one it replaces: its units, and
  // a unit for the entries of both names.
  if (!playlist.empty()) costs.reserved += 2 * costs.unit + 8;
  FolderTable folders(job, costs);
  for (const SongEntry& song : job.songs) {
    const std::string& target = song.targetPath.native();
    const size_t start = relativeStart(output, target);
    const std::string relative = start == std::string::npos
                                     ? std::string(fileNameOf(target))
                                     : target.substr(start);
    const size_t slash = relative.rfind('/');
    uint64_t bytes = roundUp(song.sizeBytes, costs.unit);
    if (listHere) {
      bytes += usedListLine(song.sizeKiB, fileNameOf(song.sourcePath.native()))
                   .size();
    }
    if (job.keepsRecord()) {
      // The path as the record writes it is never longer.
      bytes += songLineBytes(relative, song.sizeBytes);
      if (!playlist.empty()) {
        bytes += playlistEntry(relative, playlist).size() + 1;
      }
    }
    costs.fileBytes.push_back(bytes);
    costs.entryBytes.push_back(
        entryBytes(job.targetVolume, relative.substr(slash + 1)));
    costs.folderOf.push_back(folders.folder(
        slash == std::string::npos ? "" : relative.substr(0, slash)));
  }
  return costs;
}

uint64_t firstFitOnTarget(const std::vector<uint32_t>& positions,
                          const SpaceCosts& costs, uint64_t budget,
                          std::vector<uint32_t>& choice) {
  Choice walk(costs);
  uint64_t total = costs.reserved;
  for (uint32_t position : positions) {
    if (total >= budget) break;
    if (walk.cost(position, false) >= budget - total) continue;
    total += walk.cost(position, true);
    choice.push_back(position);
  }
  return total;
}
