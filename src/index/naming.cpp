#include "index/naming.h"

#include <algorithm>

#include "index/fat_names.h"
#include "job/fill_job.h"
#include "job/paths.h"

std::string dashed(std::string_view relative) {
  std::string text(relative);
  for (char& c : text) {
    if (c == '/') c = '-';
  }
  return text;
}

namespace {

// Hands `use` the part of `entry`'s target below the output folder, under
// naming mode `mode`.
template <typename Use>
void withBelowOutput(const SongEntry& entry, int32_t mode, const Use& use) {
  if (mode == Mirrored) {
    use(entry.relativePath());
  } else if (mode == Dashed) {
    use(dashed(entry.relativePath()));
  } else {
    use(fileNameOf(entry.sourcePath.native()));
  }
}

}  // namespace

void FillJob::makeTargetPath(SongEntry& entry) const {
  const std::string& left = outputDir.native();
  withBelowOutput(entry, namingMode, [&](std::string_view below) {
    entry.targetPath = joinPath(
        left, targetVolume.fatNames ? fatPath(below)
                                    : fittedPath(below, targetVolume.nameMax));
  });
}

void FillJob::removeSongsTooLargeForTarget() {
  if (!targetVolume.fourGiBLimit) return;
  constexpr uint64_t kLimit = uint64_t{4} << 30;
  const auto kept =
      std::remove_if(songs.begin(), songs.end(), [&](const SongEntry& song) {
        if (song.sizeBytes < kLimit) return false;
        printLine("Skipping ", song.sourcePath.native(),
                  ": the target's file system holds no file of 4 GiB or more");
        return true;
      });
  songs.erase(kept, songs.end());
}
