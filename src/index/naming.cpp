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

// `below` (ending in the source's file name `name`, or a dashed form of
// it) with the name's extension, from its last '.' when that is not its
// first character, replaced by `extension`.
std::string withExtension(std::string_view below, std::string_view name,
                          const std::string& extension) {
  const size_t dot = name.rfind('.');
  const size_t old =
      dot != std::string_view::npos && dot > 0 ? name.size() - dot : 0;
  return std::string(below.substr(0, below.size() - old)) + extension;
}

}  // namespace

void FillJob::makeTargetPath(SongEntry& entry) const {
  const std::string& left = outputDir.native();
  withBelowOutput(entry, namingMode, [&](std::string_view typed) {
    // A converted song takes its format's extension, whatever it had.
    const std::string converted =
        bConvert ? withExtension(typed, fileNameOf(entry.sourcePath.native()),
                                 convertFormat.extension)
                 : "";
    const std::string_view below = bConvert ? converted : typed;
    // A path whose names all fit is joined as it is, without a copy.
    if (targetVolume.fatNames) {
      entry.targetPath = joinPath(left, fatPath(below));
    } else if (below.size() <= targetVolume.nameMax) {
      entry.targetPath = joinPath(left, below);
    } else {
      entry.targetPath =
          joinPath(left, fittedPath(below, targetVolume.nameMax));
    }
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
        noteTakenOut(song);
        return true;
      });
  songs.erase(kept, songs.end());
}
