#include <cstdlib>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "cache/song_cache.h"
#include "job/fill_job.h"
#include "job/paths.h"
#include "plan/albums.h"
#include "tags/song_tags.h"

namespace {

// Songs read at once: enough to hide a network's round trip behind each
// other.
constexpr size_t kTagThreads = 16;

int64_t nanosecondsOf(const os::FileTime& time) {
  return time.seconds * 1000000000 + time.nanoseconds;
}

// Whether `path` lies below one of `folders` (each an absolute form).
bool below(const std::string& path, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    const bool endsInSlash = !folder.empty() && folder.back() == '/';
    if (path.size() > folder.size() &&
        path.compare(0, folder.size(), folder) == 0 &&
        (endsInSlash || path[folder.size()] == '/')) {
      return true;
    }
  }
  return false;
}

// The song cache's entries matched with the songs to read while the
// cache is read: an entry of a song's path, size and time (the scan's)
// puts its tags in place at once and marks the song answered; the paths
// of the entries of no song to read below `folders` are kept. Only this,
// not the whole cache, is kept.
class CacheMatcher {
 public:
  CacheMatcher(const std::vector<SongToRead>& songs,
               std::vector<std::string> folders, const ScannedStatus& scanned)
      : songs_(songs),
        folders_(std::move(folders)),
        scanned_(scanned),
        answered_(songs.size()) {
    positions_.reserve(songs.size());
    for (size_t i = 0; i < songs.size(); ++i) {
      positions_.emplace(*songs[i].path, i);
    }
  }

  // For SongCache::loadEach.
  void take(std::string& path, CachedSong& song) {
    const auto found = positions_.find(path);
    if (found == positions_.end()) {
      if (below(path, folders_)) strangers_.push_back(std::move(path));
      return;
    }
    const size_t i = found->second;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    // An entry of an older state of the song: its file is read again.
    if (!scanned_(i, size, modifiedNs) || size != song.size ||
        modifiedNs != song.modifiedNs) {
      return;
    }
    answered_[i] = true;
    *songs_[i].tags = std::move(song.tags);
  }

  // After the cache was read; with `used` false nothing it gave counts.
  void finish(bool used) {
    std::unordered_map<std::string_view, size_t>().swap(positions_);
    if (used) return;
    for (size_t i = 0; i < answered_.size(); ++i) {
      if (answered_[i]) *songs_[i].tags = SongTags();
    }
    answered_.assign(answered_.size(), false);
    strangers_.clear();
  }

  // Whether the cache's entry of song `i` is of the song as it is now.
  bool answers(size_t i) const { return answered_[i]; }

  std::vector<std::string>& strangers() { return strangers_; }

 private:
  const std::vector<SongToRead>& songs_;
  std::vector<std::string> folders_;
  const ScannedStatus& scanned_;
  std::unordered_map<std::string_view, size_t> positions_;
  std::vector<bool> answered_;
  std::vector<std::string> strangers_;
};

// The size and time the scan found of the songs at `positions`: it
// looked at each a moment ago.
ScannedStatus scannedBefore(const SongIndex& songs,
                            const std::vector<uint32_t>& positions) {
  return [&songs, &positions](size_t i, uint64_t& size, int64_t& modifiedNs) {
    const SongEntry& song = songs[positions[i]];
    size = song.sizeBytes;
    modifiedNs = song.modifiedNs;
    return true;
  };
}

// The songs of `toRead` whose tags `read` says came from their files, as
// new entries of the cache.
std::vector<std::pair<std::string, CachedSong>> readFromFiles(
    const std::vector<SongToRead>& toRead, const std::vector<SongRead>& read) {
  std::vector<std::pair<std::string, CachedSong>> fresh;
  for (size_t i = 0; i < toRead.size(); ++i) {
    if (!read[i].readFromFile) continue;
    fresh.emplace_back(
        *toRead[i].path,
        CachedSong{read[i].status.size, nanosecondsOf(read[i].status.modified),
                   *toRead[i].tags});
  }
  return fresh;
}

}  // namespace

bool FillJob::needsEveryTag() const {
  // A fill of the free space counts each song's line in the playlist,
  // its title included.
  return fillMs != 0 || artistLimit != 0 || bConvert ||
         (bFillAll && !playlistName.empty());
}

bool FillJob::openSongCache(
    SongCache& cache,
    const std::function<void(std::string&, CachedSong&)>& each) const {
  const char* off = std::getenv("PLINKARD_NO_CACHE");
  if (off != nullptr && std::string(off) == "1") return false;
  const std::string path = songCachePath();
  if (path.empty()) {
    printLine("Song cache not used: neither XDG_CACHE_HOME nor HOME is set.");
    return false;
  }
  std::string notice, problem;
  bool opened = cache.open(path, notice, problem);
  const std::string atOpen = notice;
  // A cache found damaged while it is read is set aside: what it gave
  // does not count, and this run reads every song from its file.
  opened = opened && cache.loadEach(each, notice, problem) && notice == atOpen;
  if (!notice.empty()) printLine(notice);
  if (!problem.empty()) printLine(problem);
  return opened;
}

std::vector<std::string> FillJob::goneFromCache(
    std::vector<std::string>& candidates) const {
  // Only what is certainly not there goes: a song below a folder that
  // cannot be looked into keeps its entry.
  std::vector<SongTags> unused(candidates.size());
  std::vector<SongToRead> toRead;
  toRead.reserve(candidates.size());
  for (size_t i = 0; i < candidates.size(); ++i) {
    toRead.push_back(SongToRead{&candidates[i], &unused[i]});
  }
  const std::vector<SongRead> found = readSongs(
      toRead, [](size_t, const os::FileStatus&, SongTags&) { return true; },
      kTagThreads);
  std::vector<std::string> gone;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (found[i].status.kind == os::FileStatus::Kind::Missing) {
      gone.push_back(std::move(candidates[i]));
    }
  }
  return gone;
}

void FillJob::readSongTags(const std::vector<uint32_t>& positions,
                           bool pruneCache) {
  songTags.resize(songs.size());
  std::vector<SongToRead> toRead;
  toRead.reserve(positions.size());
  for (uint32_t position : positions) {
    toRead.push_back(
        SongToRead{&songs[position].sourcePath.native(), &songTags[position]});
  }
  std::vector<std::string> folders;
  for (const auto& input : inputDirs) {
    if (pruneCache) folders.push_back(absoluteForm(input.native()));
  }
  const ScannedStatus scanned = scannedBefore(songs, positions);
  SongCache cache;
  CacheMatcher matcher(toRead, std::move(folders), scanned);
  const bool useCache = openSongCache(
      cache,
      [&](std::string& path, CachedSong& song) { matcher.take(path, song); });
  matcher.finish(useCache);
  const std::vector<SongRead> read = readSongs(
      toRead,
      [&](size_t i, const os::FileStatus&, SongTags&) {
        return matcher.answers(i);
      },
      kTagThreads, scanned);
  if (bVerbose) {
    for (const SongToRead& song : toRead) {
      if (!song.tags->known) printLine("Can't read the tags of ", *song.path);
    }
  }
  if (!useCache) return;
  const auto fresh = readFromFiles(toRead, read);
  const std::vector<std::string> gone = goneFromCache(matcher.strangers());
  std::string problem;
  if (!cache.update(fresh, gone, problem)) printLine(problem);
}

void FillJob::readEveryTag() {
  if (!needsEveryTag()) return;
  std::vector<uint32_t> positions(songs.size());
  for (uint32_t i = 0; i < positions.size(); ++i) positions[i] = i;
  readSongTags(positions, true);
}

void FillJob::readPlannedTags() {
  if (needsEveryTag() || (!bAlbums && playlistName.empty())) return;
  readSongTags(plan, false);
  if (!bAlbums) return;
  std::vector<std::string_view> paths;
  paths.reserve(songs.size());
  for (const SongEntry& song : songs) paths.push_back(song.sourcePath.native());
  orderByDiscAndTrack(plan, paths, songTags);
}
