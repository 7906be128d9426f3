#include "plan/target_space.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "job/fill_job.h"
#include "job/paths.h"
#include "plan/song_limits.h"
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
      : job_(job), costs_(costs), limit_(job.targetVolume.folderEntryBytes) {}

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
      if (limit_ != 0) folder.entryRoom = limit_;
    } else {
      describeExisting(relative, folder);
    }
    costs_.folders.push_back(folder);
    const uint32_t index = static_cast<uint32_t>(costs_.folders.size() - 1);
    known_.emplace(relative, index);
    return index;
  }

 private:
  // The room for entries of the existing folder `relative` and, where its
  // size is its allocation, what its entries leave free of that.
  void describeExisting(const std::string& relative,
                        SpaceCosts::Folder& folder) const {
    const TargetVolume& volume = job_.targetVolume;
    if (!volume.countsFolderEntries()) return;
    FolderEntries held;
    const bool listed = heldEntries(relative, held);
    if (limit_ != 0) {
      folder.entryRoom = held.bytes < limit_ ? limit_ - held.bytes : 0;
    }
    uint64_t allocated = 0;
    if (!listed || !volume.folderSizeIsAllocation || !costs_.countUnits ||
        job_.outputFolder.folderSize(relative, allocated)) {
      return;
    }
    // Entries that no listing shows: a FAT volume label, the bitmap, the
    // up-case table, the label and the GUID of an exFAT root.
    constexpr uint64_t kUnlisted = 4;
    held.bytes += kUnlisted * SpaceCosts::kSlotBytes;
    folder.freeBytes = allocated > held.bytes ? allocated - held.bytes : 0;
    folder.entries = held.count + kUnlisted;
  }

  // The entries an existing folder holds: as pruning listed them, or as a
  // listing now shows them. False, with none, when it cannot be listed.
  bool heldEntries(const std::string& relative, FolderEntries& held) const {
    const auto listed = job_.listedFolderEntries.find(relative);
    if (listed != job_.listedFolderEntries.end()) {
      held = listed->second;
      return true;
    }
    os::FolderNames names;
    if (job_.outputFolder.listNames(relative, names)) return false;
    held = listedEntries(job_.targetVolume, names.names);
    return true;
  }

  const FillJob& job_;
  SpaceCosts& costs_;
  uint64_t limit_;
  std::unordered_map<std::string, uint32_t> known_;
};

// The part of `target` below the folder `output`; its file name alone when
// it does not lie below it.
std::string belowOutput(const std::string& output, const std::string& target) {
  const size_t start = relativeStart(output, target);
  return start == std::string::npos ? std::string(fileNameOf(target))
                                    : target.substr(start);
}

// Whether a folder whose entries leave `freeBytes` of its allocation free
// in runs of 32-byte slots surely holds a run for an entry of `entry`
// bytes. Its `entries` leave at most one run more than there are of them;
// were each run one slot too short, they would hold no more than
// (entries + 1) * (entry - 32) bytes.
bool surelyFits(uint64_t freeBytes, uint64_t entries, uint64_t entry) {
  const uint64_t slot = SpaceCosts::kSlotBytes;
  return entry >= slot && freeBytes >= (entries + 1) * (entry - slot) + slot;
}

// A file the run will create at `relative` below the output folder takes
// an entry in its folder: room, and the free room of its allocation or,
// when it may not fit there, a unit.
void reserveEntry(const FillJob& job, FolderTable& folders, SpaceCosts& costs,
                  const std::string& relative) {
  const size_t slash = relative.rfind('/');
  SpaceCosts::Folder& folder = costs.folders[folders.folder(
      slash == std::string::npos ? "" : relative.substr(0, slash))];
  const uint64_t entry =
      entryBytes(job.targetVolume, relative.substr(slash + 1));
  if (folder.entryRoom != SpaceCosts::kUnlimited) {
    folder.entryRoom -= std::min(folder.entryRoom, entry);
  }
  if (folder.freeBytes == 0) return;
  if (surelyFits(folder.freeBytes, folder.entries, entry)) {
    folder.freeBytes -= entry;
    ++folder.entries;
  } else {
    folder.freeBytes = 0;
    costs.reserved += costs.unit;
  }
}

// The entries of the files the run creates besides the songs: a used-songs
// list it creates in a target folder, and the record and the playlist with
// the temporary names they are written under (for a pid of seven digits).
void reserveOwnEntries(const FillJob& job, FolderTable& folders,
                       SpaceCosts& costs) {
  if (job.bWriteUsedList && !job.bReadUsedList) {
    const std::string list = absoluteForm(job.usedListPath);
    const size_t start =
        relativeStart(absoluteForm(job.outputDir.native()), list);
    if (start != std::string::npos) {
      reserveEntry(job, folders, costs, list.substr(start));
    }
  }
  if (!job.keepsRecord()) return;
  reserveEntry(job, folders, costs, kRecordName);
  reserveEntry(job, folders, costs, std::string(kRecordName) + ".9999999.tmp");
  const std::string& playlist = job.record.playlistPath;
  if (playlist.empty()) return;
  reserveEntry(job, folders, costs, playlist);
  const size_t slash = playlist.rfind('/');
  reserveEntry(
      job, folders, costs,
      playlist.substr(0, slash + 1) + ".plinkard-playlist.9999999.tmp");
}

// The record's last unit, and the playlist's: it is written anew beside the
// one it replaces, so its units and a unit for the entries of both names.
void reserveRecord(const std::string& playlist, SpaceCosts& costs) {
  costs.reserved += costs.unit;
  if (!playlist.empty()) costs.reserved += 2 * costs.unit + 8;
}

// What a song takes of the record and the playlist: its lines there, with
// its tags when they are known; when they are read only after the plan, a
// playing time and an artist and a title of kTagsAllowed bytes together.
uint64_t recordAndPlaylistBytes(const FillJob& job, uint32_t position,
                                const std::string& relative, bool tagsLater) {
  constexpr size_t kTagsAllowed = 128;
  RecordedSong song = job.recordedTags(position);
  if (tagsLater && song.title.empty()) {
    song.playingMs = 99999999;
    song.title.assign(kTagsAllowed, 't');
  }
  // The path as the record writes it is never longer.
  uint64_t bytes = songLineBytes(relative, job.targetBytes(position), song);
  const std::string& playlist = job.record.playlistPath;
  if (!playlist.empty()) {
    song.path = relative;
    bytes +=
        extinfLine(song).size() + playlistEntry(relative, playlist).size() + 1;
  }
  return bytes;
}

}  // namespace

SpaceCosts spaceCostsOf(const FillJob& job) {
  SpaceCosts costs;
  costs.unit = job.targetVolume.allocationUnit;
  costs.countUnits = job.bFillAll;
  const std::string& output = job.outputDir.native();
  const bool listHere =
      job.bFillAll && job.bWriteUsedList && job.outputFolder.held() &&
      job.outputFolder.onSameVolume(absoluteForm(job.usedListPath));
  if (listHere) costs.reserved = costs.unit;
  const std::string& playlist = job.record.playlistPath;
  if (job.bFillAll && job.keepsRecord()) reserveRecord(playlist, costs);
  FolderTable folders(job, costs);
  if (job.targetVolume.countsFolderEntries()) {
    reserveOwnEntries(job, folders, costs);
  }
  // With -a or -p alone the songs' tags are read once they are planned,
  // and the record's and the playlist's lines grow by them.
  const bool tagsLater = (job.bAlbums || !playlist.empty()) &&
                         job.songTags.size() != job.songs.size();
  for (uint32_t position = 0; position < job.songs.size(); ++position) {
    const SongEntry& song = job.songs[position];
    const std::string relative = belowOutput(output, song.targetPath.native());
    const size_t slash = relative.rfind('/');
    uint64_t cost = job.bFillAll
                        ? roundUp(job.targetBytes(position), costs.unit)
                        : job.targetKiB(position);
    if (listHere) {
      cost += usedListLine(song.sizeKiB, fileNameOf(song.sourcePath.native()))
                  .size();
    }
    if (job.bFillAll && job.keepsRecord()) {
      cost += recordAndPlaylistBytes(job, position, relative, tagsLater);
    }
    costs.songCosts.push_back(cost);
    costs.entryBytes.push_back(
        entryBytes(job.targetVolume, relative.substr(slash + 1)));
    costs.folderOf.push_back(folders.folder(
        slash == std::string::npos ? "" : relative.substr(0, slash)));
  }
  return costs;
}

TargetFill::TargetFill(const SpaceCosts& costs)
    : costs_(costs), use_(costs.folders.size()) {
  for (size_t i = 0; i < use_.size(); ++i) {
    use_[i].freeBytes = costs.folders[i].freeBytes;
    use_[i].entries = costs.folders[i].entries;
  }
}

uint64_t TargetFill::take(const uint32_t* first, const uint32_t* last,
                          uint64_t room) {
  const uint64_t cost = add(first, last, room);
  if (cost == kNoRoom) {
    undo();
  } else {
    changed_.clear();
  }
  return cost;
}

uint64_t TargetFill::costOf(const uint32_t* first, const uint32_t* last,
                            uint64_t room) {
  const uint64_t cost = add(first, last, room);
  undo();
  return cost;
}

uint64_t TargetFill::add(const uint32_t* first, const uint32_t* last,
                         uint64_t room) {
  uint64_t cost = 0;
  for (; first != last; ++first) {
    const uint64_t more = addSong(*first, room - cost);
    if (more == kNoRoom) return kNoRoom;
    cost += more;
  }
  return cost;
}

// The song's own cost, quickly refused when that alone does not fit, then
// its entries and the folders it needs.
uint64_t TargetFill::addSong(uint32_t position, uint64_t room) {
  const uint64_t own = costs_.songCosts[position];
  if (own >= room) return kNoRoom;
  const uint32_t folder = costs_.folderOf[position];
  const uint64_t created = ensure(folder);
  if (created == kNoRoom) return kNoRoom;
  const uint64_t entries = addEntry(folder, costs_.entryBytes[position]);
  if (entries == kNoRoom) return kNoRoom;
  const uint64_t cost = costs_.countUnits ? own + created + entries : own;
  return cost < room ? cost : kNoRoom;
}

// Makes sure `folder` exists in this choice; returns the bytes that took.
uint64_t TargetFill::ensure(uint32_t folder) {
  const SpaceCosts::Folder& f = costs_.folders[folder];
  if (!f.missing || use_[folder].created) return 0;
  const uint64_t parent = ensure(f.parent);
  if (parent == kNoRoom) return kNoRoom;
  const uint64_t entry = addEntry(f.parent, f.entryBytes);
  if (entry == kNoRoom) return kNoRoom;
  changed_.emplace_back(folder, use_[folder]);
  FolderUse& use = use_[folder];
  use.created = true;
  use.bytes = use.grown = 64;
  use.units = 1;
  return parent + entry + costs_.unit + f.lineBytes;
}

// Adds `entry` bytes to `folder`: into its present allocation while they
// surely fit there, else into new units. Returns the bytes of new units, or
// kNoRoom when the folder cannot hold them.
uint64_t TargetFill::addEntry(uint32_t folder, uint64_t entry) {
  FolderUse& use = use_[folder];
  if (entry > costs_.folders[folder].entryRoom - use.bytes) return kNoRoom;
  changed_.emplace_back(folder, use);
  use.bytes += entry;
  if (use.freeBytes != 0 && surelyFits(use.freeBytes, use.entries, entry)) {
    use.freeBytes -= entry;
    ++use.entries;
    return 0;
  }
  use.freeBytes = 0;
  use.grown += entry;
  const uint64_t units = (use.grown + costs_.unit - 1) / costs_.unit;
  const uint64_t added = units > use.units ? units - use.units : 0;
  use.units += added;
  return added * costs_.unit;
}

void TargetFill::undo() {
  for (auto it = changed_.rbegin(); it != changed_.rend(); ++it) {
    use_[it->first] = it->second;
  }
  changed_.clear();
}

uint64_t firstFitOnTarget(const std::vector<uint32_t>& positions,
                          const SpaceCosts& costs, uint64_t budget,
                          std::vector<uint32_t>& choice, SongLimits* limits) {
  TargetFill fill(costs);
  uint64_t total = costs.reserved;
  for (const uint32_t& position : positions) {
    if (total >= budget) break;
    if (limits != nullptr && !limits->fits(&position, &position + 1)) continue;
    const uint64_t cost = fill.take(&position, &position + 1, budget - total);
    if (cost == TargetFill::kNoRoom) continue;
    total += cost;
    choice.push_back(position);
    if (limits != nullptr) limits->take(&position, &position + 1);
  }
  return total;
}
