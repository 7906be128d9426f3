#ifndef PLINKARD_PLAN_TARGET_SPACE_H_
#define PLINKARD_PLAN_TARGET_SPACE_H_

#include <cstdint>
#include <utility>
#include <vector>

class FillJob;
class SongLimits;

// What the songs take of the target, for a fill of its free space in bytes.
// A song takes its size in whole allocation units and its line in a
// used-songs list on the same volume, in the record and in the playlist;
// its directory entries take their share of the units of its folder, and a
// folder that a choice has to create takes its first unit, its line in the
// record and an entry in its parent. A folder that exists already fills the
// free room of its present allocation first, where the file system tells
// it (FAT, exFAT): its entries are runs of 32-byte slots, and a new entry
// costs nothing while the free slots are sure to hold a run long enough for
// it, else a unit. Elsewhere an existing folder is taken to be full: its
// first new entry costs a unit.
// Where the target's folders hold a limited number of entries, each folder
// also has room for only so many more; a fill of a number of megabytes
// counts the songs' sizes in KiB and only that room.
struct SpaceCosts {
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr uint64_t kUnlimited = UINT64_MAX;
  struct Folder {
    uint32_t parent = kNone;
    bool missing = false;     // created by the first song that needs it
    uint64_t entryBytes = 0;  // of its own entry, in its parent
    // The bytes of entries that a choice may add to it; for a folder it
    // creates, its "." and ".." included.
    uint64_t entryRoom = kUnlimited;
    uint64_t lineBytes = 0;  // of its line in the record
    // Of a folder that exists, where its size is what is allocated to its
    // entries: the bytes of that allocation its entries leave free, and
    // how many entries it holds.
    uint64_t freeBytes = 0;
    uint64_t entries = 0;
  };
  static constexpr uint64_t kSlotBytes = 32;  // of a FAT or exFAT entry
  uint64_t unit = 4096;
  // Whether a song's cost includes the units its entries and new folders
  // take (a fill of the free space), or its folders are only checked for
  // room (a fill of a number of megabytes).
  bool countUnits = true;
  // By position in the index: what the song itself takes, in bytes, or its
  // size in KiB where units do not count.
  std::vector<uint64_t> songCosts;
  std::vector<uint64_t> entryBytes;  // by position: the song's entries
  std::vector<uint32_t> folderOf;    // by position: the song's folder
  std::vector<Folder> folders;
  // Taken by every choice: the last unit of the list and of the record, the
  // playlist's last unit and its entries.
  uint64_t reserved = 0;
};

// The costs of the job's songs on its target: in bytes with bFillAll,
// otherwise in KiB with the room of the folders.
SpaceCosts spaceCostsOf(const FillJob& job);

// What one choice has put on the target so far.
class TargetFill {
 public:
  static constexpr uint64_t kNoRoom = UINT64_MAX;

  explicit TargetFill(const SpaceCosts& costs);

  // When the songs at `first` up to `last` fit together into `room` (their
  // total strictly below it) and their folders have room for their
  // entries, takes them and returns what they cost; otherwise kNoRoom, and
  // nothing is taken.
  uint64_t take(const uint32_t* first, const uint32_t* last, uint64_t room);
  // What take would return, without taking anything.
  uint64_t costOf(const uint32_t* first, const uint32_t* last, uint64_t room);

 private:
  // The entries a choice has put in a folder so far, and the units they
  // take. A created folder starts with its "." and ".." entries in one unit.
  struct FolderUse {
    bool created = false;
    uint64_t bytes = 0;  // of the entries added
    // Left free in the present allocation, and the entries there, until an
    // entry is not sure to fit: from then on entries go into new units.
    uint64_t freeBytes = 0;
    uint64_t entries = 0;
    uint64_t grown = 0;  // bytes of entries in new units
    uint64_t units = 0;  // new units
  };

  uint64_t add(const uint32_t* first, const uint32_t* last, uint64_t room);
  uint64_t addSong(uint32_t position, uint64_t room);
  uint64_t ensure(uint32_t folder);
  uint64_t addEntry(uint32_t folder, uint64_t entry);
  void undo();

  const SpaceCosts& costs_;
  std::vector<FolderUse> use_;
  std::vector<std::pair<uint32_t, FolderUse>> changed_;  // to take back
};

// One first-fit walk over `positions` within `budget`: takes every song
// that, with its entries and the folders it needs, still fits into what is
// left (and within `limits`, when given), into `choice`; returns the total
// taken.
uint64_t firstFitOnTarget(const std::vector<uint32_t>& positions,
                          const SpaceCosts& costs, uint64_t budget,
                          std::vector<uint32_t>& choice,
                          SongLimits* limits = nullptr);

#endif  // PLINKARD_PLAN_TARGET_SPACE_H_
