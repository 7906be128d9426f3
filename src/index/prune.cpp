#include <algorithm>

#include "job/fill_job.h"
#include "os/files.h"
#include "os/signals.h"

namespace {

// The part of `target` below the folder `outputText`, or npos when the
// target does not lie below it.
size_t relativeStart(const std::string& outputText, const std::string& target) {
  if (outputText.empty() ||
      target.compare(0, outputText.size(), outputText) != 0) {
    return std::string::npos;
  }
  size_t rest = outputText.size();
  while (rest < target.size() && target[rest] == '/') ++rest;
  const bool separated = rest > outputText.size() || outputText.back() == '/';
  return rest < target.size() && separated ? rest : std::string::npos;
}

}  // namespace

bool FillJob::removeExistingTargets() {
  // Targets are looked up relative to the open output folder, which spares
  // the kernel the walk down the output folder's own path for every song.
  const std::string& outputText = outputDir.native();
  os::HeldFolder outputFolder;
  outputFolder.hold(outputText);
  // remove_if keeps the order of the songs it keeps and decides the songs
  // one after another, so the messages come in index order.
  auto kept =
      std::remove_if(songs.begin(), songs.end(), [&](const SongEntry& song) {
        if (os::interruptSignal() != 0) return false;
        const std::string& target = song.targetPath.native();
        const size_t start = relativeStart(outputText, target);
        bool exists = false;
        const std::error_code error =
            outputFolder.held() && start != std::string::npos
                ? outputFolder.probe(target.c_str() + start, exists)
                : os::probePath(target, exists);
        if (error) {
          printLine("Can't check whether ", target,
                    " exists: ", error.message());
        }
        return exists || error;
      });
  songs.erase(kept, songs.end());
  return true;
}
