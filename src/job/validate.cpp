#include "job/fill_job.h"
#include "job/paths.h"

bool FillJob::validate() {
  if (inputDirs.empty()) {
    printLine("No input directory given!");
    return false;
  }
  if (fillSize == 0) {
    printLine("No size to fill given!");
    return false;
  }
  if (filters.empty()) {
    printLine("No filters given, only search for .mp3 files.");
    filters.emplace_back(".mp3");
  }
  if (queryPathKind(outputDir.native()) == os::PathKind::Missing) {
    printLine("Output directory ", outputDir.native(), " does not exist!");
    return false;
  }
  // Without it the stages fall back to the folder's path, and to names and
  // lookups that suit every file system.
  if (!outputFolder.hold(outputDir.native())) {
    os::VolumeInfo volume;
    if (!outputFolder.volume(volume)) targetVolume = describeVolume(volume);
  }
  return checkUsedList();
}
