#include <algorithm>
#include <atomic>
#include <thread>

#include "os/read_file.h"
#include "tags/song_tags.h"

namespace {

void readOne(
    const SongToRead& song,
    const std::function<bool(size_t, const os::FileStatus&, SongTags&)>& cached,
    size_t index, SongRead& result) {
  // A song that can't be looked at is not gone: only Missing says so.
  if (os::statusFollowing(*song.path, result.status)) {
    result.status = os::FileStatus();
    result.status.kind = os::FileStatus::Kind::Other;
  }
  if (result.status.kind != os::FileStatus::Kind::RegularFile) {
    *song.tags = SongTags();
    return;
  }
  if (cached(index, result.status, *song.tags)) return;
  *song.tags = readTagsOfFile(*song.path);
  result.readFromFile = true;
}

}  // namespace

std::vector<SongRead> readSongs(
    const std::vector<SongToRead>& songs,
    const std::function<bool(size_t, const os::FileStatus&, SongTags&)>& cached,
    size_t threads) {
  std::vector<SongRead> results(songs.size());
  // Each thread takes the next song not yet taken and writes only that
  // song's result, so nothing else is shared.
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < songs.size(); i = next++) {
      readOne(songs[i], cached, i, results[i]);
    }
  };
  std::vector<std::thread> workers;
  const size_t count = std::min(threads, songs.size());
  for (size_t t = 1; t < count; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  return results;
}
