#include "job/fill_job.h"

bool FillJob::processIndex() {
  readUsedList();
  removeSongsTooLargeForTarget();
  for (SongEntry& song : songs) makeTargetPath(song);
  removeExistingTargets();
  applyRegexFilters();
  return true;
}
