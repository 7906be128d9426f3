#include <algorithm>
#include <atomic>
#include <thread>

#include "os/read_file.h"
#include "tags/song_tags.h"

namespace {

void readOne(
    const std::string& path,
    const std::function<bool(size_t, const os::FileStatus&, SongTags&)>& cached,
    size_t index, SongRead& result) {
  // A song that can't be looked at is not gone: only Missing says so.
  if (os::statusFollowing(path, result.status)) {
    result.status = os::FileStatus();
    result.status.kind = os::FileStatus::Kind::Other;
  }
  if (result.status.kind != os::FileStatus::Kind::RegularFile) return;
  if (cached(index, result.status, result.tags)) return;
  result.tags = readTagsOfFile(path);
  result.readFromFile = true;
}

}  // namespace

std::vector<SongRead> readSongs(
    const std::vector<std::string>& paths,
    const std::function<bool(size_t, const os::FileStatus&, SongTags&)>& cached,
    size_t threads) {
  std::vector<SongRead> results(paths.size());
  // Each thread takes the next song not yet taken and writes only that
  // song's result, so nothing else is shared.
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < paths.size(); i = next++) {
      readOne(paths[i], cached, i, results[i]);
    }
  };
  std::vector<std::thread> workers;
  const size_t count = std::min(threads, paths.size());
  for (size_t t = 1; t < count; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  return results;
}
