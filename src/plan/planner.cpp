#include <cstdlib>
#include <iostream>
#include <utility>

#include "job/fill_job.h"
#include "job/interrupt.h"

namespace {

// The classic shuffle on rand(): for i from 1 up, swap i with a position
// drawn from 0 to i.
void shuffle(std::vector<uint32_t>& positions) {
  for (size_t i = 1; i < positions.size(); ++i) {
    const size_t j = static_cast<size_t>(std::rand()) % (i + 1);
    std::swap(positions[i], positions[j]);
  }
}

}  // namespace

uint64_t perMille(uint64_t total, uint64_t fillSize) {
  // 128 bits, so that totals near 2^64 KiB do not wrap.
  return static_cast<uint64_t>(static_cast<unsigned __int128>(total) * 1000 /
                               fillSize);
}

bool FillJob::createPlan(uint8_t choiceCount) {
  if (choiceCount == 0) {
    std::cout << "We must generate at least 1 choice!" << std::endl;
    return false;
  }
  // The walks read sizes in random order; a compact copy keeps them in
  // cache where the index itself would not fit.
  std::vector<uint32_t> sizes(songs.size());
  std::vector<uint32_t> positions(songs.size());
  for (uint32_t i = 0; i < positions.size(); ++i) {
    positions[i] = i;
    sizes[i] = songs[i].sizeKiB;
  }

  // The first choice is the best so far whatever it fills; a later one
  // replaces it only when it fills strictly more.
  bool haveBest = false;
  uint64_t bestPerMille = 0;
  uint64_t bestTotal = 0;
  FillPlan best;
  FillPlan current;
  for (uint8_t choice = 0; choice < choiceCount; ++choice) {
    if (interruptSignal() != 0) return false;
    uint64_t total = 0;
    shuffle(positions);
    shuffle(positions);
    for (uint32_t position : positions) {
      const uint64_t size = sizes[position];
      if (size < fillSize - total) {
        current.push_back(position);
        total += size;
      }
    }
    const uint64_t efficiency = perMille(total, fillSize);
    if (!haveBest || efficiency > bestPerMille) {
      haveBest = true;
      bestPerMille = efficiency;
      best = current;
      bestTotal = total;
    }
    current.clear();
  }

  const float efficiency = static_cast<float>(bestPerMille) / 1000.0f;
  std::cout << "Most efficient combination: " << efficiency << std::endl;
  // Plan and total change together, and only when the planner completes.
  plan = std::move(best);
  planSize = bestTotal;
  return true;
}
