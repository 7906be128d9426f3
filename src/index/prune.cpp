#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "job/fill_job.h"
#include "job/interrupt.h"
#include "job/paths.h"

namespace {

// Looks targets up relative to the open output folder, which spares the
// kernel the walk down the output folder's own path for every song.
class TargetLookup {
 public:
  explicit TargetLookup(const std::string& outputText)
      : outputText_(outputText),
        fd_(open(outputText.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
  ~TargetLookup() {
    if (fd_ >= 0) close(fd_);
  }

  // 0 when something exists at `target`, ENOENT when nothing does, or the
  // error that kept the lookup from telling.
  int exists(const std::string& target) const {
    const char* path = target.c_str();
    int dir = AT_FDCWD;
    if (fd_ >= 0 && target.compare(0, outputText_.size(), outputText_) == 0) {
      size_t rest = outputText_.size();
      while (rest < target.size() && target[rest] == '/') ++rest;
      if (rest < target.size() &&
          (rest > outputText_.size() || outputText_.back() == '/')) {
        path += rest;
        dir = fd_;
      }
    }
    struct stat st;
    if (fstatat(dir, path, &st, 0) == 0) return 0;
    return errno == ENOTDIR ? ENOENT : errno;
  }

 private:
  const std::string& outputText_;
  int fd_;
};

}  // namespace

bool FillJob::removeExistingTargets() {
  const TargetLookup lookup(outputDir.native());
  // remove_if keeps the order of the songs it keeps and decides the songs
  // one after another, so the messages come in index order.
  auto kept =
      std::remove_if(songs.begin(), songs.end(), [&](const SongEntry& song) {
        if (interruptSignal() != 0) return false;
        const int result = lookup.exists(song.targetPath.native());
        if (result == ENOENT) return false;
        if (result != 0) {
          std::cout << "Can't check whether " << song.targetPath.native()
                    << " exists: " << errorText(result) << std::endl;
        }
        return true;
      });
  songs.erase(kept, songs.end());
  return true;
}
