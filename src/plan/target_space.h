#ifndef PLINKARD_PLAN_TARGET_SPACE_H_
#define PLINKARD_PLAN_TARGET_SPACE_H_

#include <cstdint>
#include <vector>

class FillJob;

// What each song takes of the target's free space, in bytes: its size in
// whole allocation units, its directory entries and its line in a
// used-songs list on the same volume; and the folders it needs, which cost
// their share only for the first song of a choice that lands in them.
struct SpaceCosts {
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Folder {
    uint32_t parent = kNone;  // a folder that must come with it
    uint64_t bytes = 0;
  };
  std::vector<uint64_t> songBytes;  // by position in the index
  std::vector<uint32_t> folderOf;   // by position: the song's folder
  std::vector<Folder> folders;
  uint64_t reserved = 0;  // taken by every choice: the list's last unit
};

// The costs of the job's songs on its target. A folder that exists already
// costs one allocation unit, for the growth of its entries; a new one its
// first unit, its entry in its parent and that growth, and brings its
// parent.
SpaceCosts spaceCostsOf(const FillJob& job);

// One first-fit walk over `positions` within `budget` bytes: takes every
// song that, with the folders it brings, still fits into what is left, into
// `choice`; returns the bytes taken.
uint64_t firstFitOnTarget(const std::vector<uint32_t>& positions,
                          const SpaceCosts& costs, uint64_t budget,
                          std::vector<uint32_t>& choice);

#endif  // PLINKARD_PLAN_TARGET_SPACE_H_
