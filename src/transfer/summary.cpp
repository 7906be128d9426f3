#include "job/fill_job.h"
#include "plan/song_limits.h"

namespace {

// KiB as MB in single precision.
float megabytes(uint64_t kib) {
  return static_cast<float>(static_cast<double>(kib) / 1024.0);
}

}  // namespace

void FillJob::printSummary() const {
  // A fill of the free space shows what the plan takes on the target, as
  // the planner counted it; its share is then the planner's figure.
  const float usedMB =
      bFillAll
          ? static_cast<float>(static_cast<double>(planTargetBytes) / 1048576.0)
          : megabytes(planSize);
  const float fillMB = megabytes(fillSize);
  const uint64_t share = bFillAll ? perMille(planTargetBytes, fillSize * 1024)
                                  : perMille(planSize, fillSize);
  const double percent =
      static_cast<double>(static_cast<float>(share) / 1000.0f) * 100.0;
  printLine("This configuration uses ", usedMB, " / ", fillMB, "  MB (",
            percent, "%).");
  if (fillMs != 0) {
    const uint64_t timeShare = perMille(planMs, fillMs);
    printLine("Playing time: ", playingTimeText(planMs), " of ",
              playingTimeText(fillMs), " (", timeShare / 10, ".",
              timeShare % 10, "%)");
  }
  printLine(songs.size(), " files were processed, ", transferred.size(),
            " files werde copied.");
}

int FillJob::runStatus() const {
  if (record.failures > 0 || bUsedListFailed) return 2;
  return !bDryRun && transferred.size() + heldBack < plan.size() ? 2 : 0;
}
