#ifndef PLINKARD_PLAN_TARGET_SPACE_H_
#define PLINKARD_PLAN_TARGET_SPACE_H_

#include <cstdint>
#include <vector>

class FillJob;

// What the songs take of the target's free space, in bytes. A song takes
// its size in whole allocation units and its line in a used-songs list on
// the same volume, in the record and in the playlist; its directory entries
// take their share of the units of its folder, and a folder that a choice
// has to create takes its first unit, its line in the record and an entry
// in its parent. A folder that exists already is taken to be full: its
// first new entry costs a unit.
struct SpaceCosts {
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Folder {
    uint32_t parent = kNone;
    bool missing = false;     // created by the first song that needs it
    uint64_t entryBytes = 0;  // of its own entry, in its parent
    uint64_t lineBytes = 0;   // of its line in the record
  };
  uint64_t unit = 4096;
  std::vector<uint64_t> fileBytes;   // by position in the index
  std::vector<uint64_t> entryBytes;  // by position: the song's entries
  std::vector<uint32_t> folderOf;    // by position: the song's folder
  std::vector<Folder> folders;
  // Taken by every choice: the last unit of the list and of the record, the
  // playlist's last unit and its entries.
  uint64_t reserved = 0;
};

// The costs of the job's songs on its target.
SpaceCosts spaceCostsOf(const FillJob& job);

// One first-fit walk over `positions` within `budget` bytes: takes every
// song that, with its entries and the folders it needs, still fits into
// what is left, into `choice`; returns the bytes taken.
uint64_t firstFitOnTarget(const std::vector<uint32_t>& positions,
                          const SpaceCosts& costs, uint64_t budget,
                          std::vector<uint32_t>& choice);

#endif  // PLINKARD_PLAN_TARGET_SPACE_H_
