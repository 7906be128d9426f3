#ifndef PLINKARD_PLAN_FILL_PLAN_H_
#define PLINKARD_PLAN_FILL_PLAN_H_

#include <cstdint>
#include <vector>

// Positions in the song index chosen for transfer, in the order the winning
// choice took them. No position occurs twice.
using FillPlan = std::vector<uint32_t>;

// The per-mille share of `fillSize` that `total` fills, floor(total * 1000 /
// fillSize), exact for every total up to fillSize (the planner's and the
// summary's), as both measure it. `fillSize` must not be 0.
uint64_t perMille(uint64_t total, uint64_t fillSize);

class SongLimits;
// A walk's share in per mille: of the playing time taken when `limits`
// hold one (-t), otherwise perMille(total, budget).
uint64_t shareOf(uint64_t total, uint64_t budget, const SongLimits* limits);

#endif  // PLINKARD_PLAN_FILL_PLAN_H_
