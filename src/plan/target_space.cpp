#include "plan/target_space.h"

#include <string>
#include <unordered_map>

#include "job/fill_job.h"
#include "job/paths.h"
#include "usedlist/used_list.h"

namespace {

uint64_t roundUp(uint64_t bytes, uint64_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

// The folders of the targets, each entered once.
class FolderCosts {
 public:
  FolderCosts(const FillJob& job, SpaceCosts& costs)
      : job_(job), costs_(costs), unit_(job.target.allocationUnit) {}

  // The folder `relative` below the output folder ("" for itself).
  uint32_t folder(const std::string& relative) {
    const auto found = known_.find(relative);
    if (found != known_.end()) return found->second;
    SpaceCosts::Folder folder;
    folder.bytes = unit_;
    bool exists = true;
    if (!relative.empty()) job_.outputFolder.probe(relative.c_str(), exists);
    if (!exists) {
      // Its first unit, its "." and ".." entries and its entry in the
      // parent, which has to come too.
      const size_t slash = relative.rfind('/');
      folder.bytes += unit_ + 64 +
                      entryBytes(job_.target, relative.substr(slash + 1));
      folder.parent =
          this->folder(slash == std::string::npos ? "" : relative.substr(0, slash));
    }
    costs_.folders.push_back(folder);
    const uint32_t index = static_cast<uint32_t>(costs_.folders.size() - 1);
    known_.emplace(relative, index);
    return index;
  }

 private:
  const FillJob& job_;
  SpaceCosts& costs_;
  uint64_t unit_;
  std::unordered_map<std::string, uint32_t> known_;
};

}  // namespace

SpaceCosts spaceCostsOf(const FillJob& job) {
  SpaceCosts costs;
  const uint64_t unit = job.target.allocationUnit;
  const std::string& output = job.outputDir.native();
  const bool listHere = job.bWriteUsedList && job.outputFolder.held() &&
                        job.outputFolder.onSameVolume(absoluteForm(job.usedListPath));
  if (listHere) costs.reserved = unit;
  FolderCosts folders(job, costs);
  for (const SongEntry& song : job.songs) {
    const std::string& target = song.targetPath.native();
    const size_t start = relativeStart(output, target);
    const std::string relative =
        start == std::string::npos ? std::string(fileNameOf(target))
                                   : target.substr(start);
    const size_t slash = relative.rfind('/');
    uint64_t bytes = roundUp(song.sizeBytes, unit) +
                     entryBytes(job.target, relative.substr(slash + 1));
    if (listHere) {
      bytes += usedListLine(song.sizeKiB, fileNameOf(song.sourcePath.native()))
                   .size();
    }
    costs.songBytes.push_back(bytes);
    costs.folderOf.push_back(folders.folder(
        slash == std::string::npos ? "" : relative.substr(0, slash)));
  }
  return costs;
}

uint64_t firstFitOnTarget(const std::vector<uint32_t>& positions,
                          const SpaceCosts& costs, uint64_t budget,
                          std::vector<uint32_t>& choice) {
  std::vector<bool> touched(costs.folders.size(), false);
  uint64_t total = costs.reserved;
  for (uint32_t position : positions) {
    uint64_t need = costs.songBytes[position];
    for (uint32_t f = costs.folderOf[position];
         f != SpaceCosts::kNone && !touched[f]; f = costs.folders[f].parent) {
      need += costs.folders[f].bytes;
    }
    if (total >= budget || need >= budget - total) continue;
    choice.push_back(position);
    total += need;
    for (uint32_t f = costs.folderOf[position];
         f != SpaceCosts::kNone && !touched[f]; f = costs.folders[f].parent) {
      touched[f] = true;
    }
  }
  return total;
}
