#include <algorithm>
#include <atomic>
#include <thread>

#include "os/read_file.h"
#include "tags/song_tags.h"

namespace {

// A regular file's status of its size and time in nanoseconds.
os::FileStatus scannedStatus(uint64_t size, int64_t modifiedNs) {
  constexpr int64_t kSecond = 1000000000;
  os::FileStatus status;
  status.kind = os::FileStatus::Kind::RegularFile;
  status.size = size;
  // Whole seconds rounded down, so that times before 1970 come back too.
  int64_t seconds = modifiedNs / kSecond;
  int64_t rest = modifiedNs % kSecond;
  if (rest < 0) {
    rest += kSecond;
    --seconds;
  }
  status.modified.seconds = seconds;
  status.modified.nanoseconds = static_cast<uint32_t>(rest);
  return status;
}

void readOne(
    const SongToRead& song,
    const std::function<bool(size_t, const os::FileStatus&, SongTags&)>& cached,
    const ScannedStatus& scanned, size_t index, SongRead& result) {
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  if (scanned && scanned(index, size, modifiedNs)) {
    result.status = scannedStatus(size, modifiedNs);
  } else if (os::statusFollowing(*song.path, result.status)) {
    // A song that can't be looked at is not gone: only Missing says so.
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
    size_t threads, const ScannedStatus& scanned) {
  std::vector<SongRead> results(songs.size());
  // Each thread takes the next song not yet taken and writes only that
  // song's result, so nothing else is shared.
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < songs.size(); i = next++) {
      readOne(songs[i], cached, scanned, i, results[i]);
    }
  };
  std::vector<std::thread> workers;
  const size_t count = std::min(threads, songs.size());
  for (size_t t = 1; t < count; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  return results;
}
