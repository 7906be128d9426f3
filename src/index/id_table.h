#ifndef PLINKARD_INDEX_ID_TABLE_H_
#define PLINKARD_INDEX_ID_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "os/file_id.h"

// The scan's tables of the folders and files met so far, with a value for
// each id. The slots are one array searched from the id's hash onward, so
// a lookup reads one or two cache lines rather than a chain of nodes spread
// over a heap that holds the whole index. Ids are never removed.
template <typename Value>
class IdTable {
 public:
  // The value kept for `id`, and whether `id` was added now (its value
  // then default) rather than found.
  std::pair<Value*, bool> insert(const os::FileId& id) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    Slot& slot = slots_[placeOf(id)];
    if (slot.used) return {&slot.value, false};
    slot.used = true;
    slot.id = id;
    ++count_;
    return {&slot.value, true};
  }

  // The value kept for `id`, or null when it was never added.
  Value* find(const os::FileId& id) {
    if (slots_.empty()) return nullptr;
    Slot& slot = slots_[placeOf(id)];
    return slot.used ? &slot.value : nullptr;
  }

  bool contains(const os::FileId& id) const {
    return !slots_.empty() && slots_[placeOf(id)].used;
  }

  size_t size() const { return count_; }

 private:
  struct Slot {
    os::FileId id;
    bool used = false;
    Value value{};
  };

  // The slot that holds `id`, or the free one where it goes. The table is
  // never more than half full, so the search ends soon. A folder's files
  // and subfolders tend to have inodes close to each other: ids in the same
  // run of 256 inodes get slots in the same stretch of the table, so that
  // the walk mostly finds its slots in memory it touched a moment ago.
  size_t placeOf(const os::FileId& id) const {
    const size_t mask = slots_.size() - 1;
    const uint64_t mixed =
        ((id.inode >> 8) ^ id.device * 0xc2b2ae3d27d4eb4fULL) *
        0x9e3779b97f4a7c15ULL;
    const uint64_t stretch = (mixed >> 32) << 8;
    size_t i =
        static_cast<size_t>(stretch + ((id.inode + (mixed >> 16)) & 255));
    for (;; ++i) {
      const Slot& slot = slots_[i & mask];
      if (!slot.used || slot.id == id) return i & mask;
    }
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_ = std::vector<Slot>(old.empty() ? 64 : old.size() * 2);
    for (Slot& slot : old) {
      if (slot.used) slots_[placeOf(slot.id)] = std::move(slot);
    }
  }

  std::vector<Slot> slots_;
  size_t count_ = 0;
};

#endif  // PLINKARD_INDEX_ID_TABLE_H_
