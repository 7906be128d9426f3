#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string_view>

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
bool below(std::string_view path, const std::vector<std::string>& folders) {
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

size_t pathHash(std::string_view path) {
  return std::hash<std::string_view>()(path);
}

// The positions of songs by their paths, in one open-addressed table: a
// slot holds the upper half of the path's hash and the position + 1 (0 is
// a free slot). A lookup touches one slot and, when the halves agree, the
// path: a million songs take 16 MiB and no allocation each.
class PathPositions {
 public:
  explicit PathPositions(const std::vector<SongToRead>& songs) : songs_(songs) {
    size_t slots = 16;
    while (slots < songs.size() * 2) slots *= 2;
    slots_.assign(slots, 0);
    for (size_t i = 0; i < songs.size(); ++i) {
      const size_t hash = pathHash(*songs[i].path);
      size_t slot = hash & (slots - 1);
      while (slots_[slot] != 0) slot = (slot + 1) & (slots - 1);
      slots_[slot] = (upperHalf(hash) << 32) | (i + 1);
    }
  }

  // The first position of a song at `path`; npos when there is none.
  size_t find(std::string_view path) const {
    const size_t hash = pathHash(path);
    const uint64_t upper = upperHalf(hash);
    const size_t mask = slots_.size() - 1;
    for (size_t slot = hash & mask; slots_[slot] != 0;
         slot = (slot + 1) & mask) {
      const uint64_t held = slots_[slot];
      const size_t i = static_cast<size_t>(held & 0xffffffffu) - 1;
      if (held >> 32 == upper && *songs_[i].path == path) return i;
    }
    return npos;
  }

  void clear() { std::vector<uint64_t>().swap(slots_); }

  static constexpr size_t npos = static_cast<size_t>(-1);

 private:
  static uint64_t upperHalf(size_t hash) {
    return static_cast<uint64_t>(hash) >> 32;
  }

  const std::vector<SongToRead>& songs_;
  std::vector<uint64_t> slots_;
};

// The song cache's entries matched with the songs to read while the
// cache is read: an entry of a song's path, size and time (the scan's)
// puts its tags in place at once and marks the song answered; the paths
// of the entries below `folders` of no song the scan found (neither one
// to read nor one of `takenOut`, the sorted hashes of the paths of songs
// the index processing took out) are kept. Only this, not the whole
// cache, is kept.
class CacheMatcher {
 public:
  CacheMatcher(const std::vector<SongToRead>& songs,
               std::vector<std::string> folders,
               const std::vector<size_t>& takenOut,
               const ScannedStatus& scanned)
      : songs_(songs),
        folders_(std::move(folders)),
        takenOut_(takenOut),
        scanned_(scanned),
        positions_(songs),
        answered_(songs.size()) {}

  // For SongCache::loadEach: where the tags of the cache's entry go.
  SongTags* take(std::string_view path, uint64_t size, int64_t modifiedNs) {
    size_t i = nearNext(path);
    if (i == PathPositions::npos) i = positions_.find(path);
    if (i == PathPositions::npos) {
      if (below(path, folders_) &&
          !std::binary_search(takenOut_.begin(), takenOut_.end(),
                              pathHash(path))) {
        strangers_.emplace_back(path);
      }
      return nullptr;
    }
    uint64_t scannedSize = 0;
    int64_t scannedNs = 0;
    // An entry of an older state of the song: its file is read again.
    if (!scanned_(i, scannedSize, scannedNs) || scannedSize != size ||
        scannedNs != modifiedNs) {
      return nullptr;
    }
    answered_[i] = true;
    next_ = i + 1;
    return songs_[i].tags;
  }

  // After the cache was read; with `used` false nothing it gave counts.
  void finish(bool used) {
    positions_.clear();
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
  // The cache keeps its entries in the order a scan found them, mostly
  // this one's, less the songs taken out or added since: the few songs
  // after the last one found are tried before the table.
  size_t nearNext(std::string_view path) const {
    constexpr size_t kAhead = 8;
    const size_t end = std::min(songs_.size(), next_ + kAhead);
    for (size_t i = next_; i < end; ++i) {
      if (*songs_[i].path == path) return i;
    }
    return PathPositions::npos;
  }

  const std::vector<SongToRead>& songs_;
  std::vector<std::string> folders_;
  const std::vector<size_t>& takenOut_;
  const ScannedStatus& scanned_;
  PathPositions positions_;
  size_t next_ = 0;
  std::vector<bool> answered_;
  std::vector<std::string> strangers_;
};

// The songs at `positions`, each with its place in `tags`.
std::vector<SongToRead> songsToRead(const SongIndex& songs,
                                    std::vector<SongTags>& tags,
                                    const std::vector<uint32_t>& positions) {
  std::vector<SongToRead> toRead;
  toRead.reserve(positions.size());
  for (uint32_t position : positions) {
    toRead.push_back(
        SongToRead{&songs[position].sourcePath.native(), &tags[position]});
  }
  return toRead;
}

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

bool FillJob::openSongCache(SongCache& cache,
                            const SongCache::TagsFor& tagsFor) const {
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
  opened =
      opened && cache.loadEach(tagsFor, notice, problem) && notice == atOpen;
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
  const std::vector<SongToRead> toRead =
      songsToRead(songs, songTags, positions);
  std::vector<std::string> folders;
  for (const auto& input : inputDirs) {
    if (pruneCache) folders.push_back(absoluteForm(input.native()));
  }
  const ScannedStatus scanned = scannedBefore(songs, positions);
  SongCache cache;
  std::sort(takenOutPaths.begin(), takenOutPaths.end());
  CacheMatcher matcher(toRead, std::move(folders), takenOutPaths, scanned);
  const bool useCache = openSongCache(
      cache, [&](std::string_view path, uint64_t size, int64_t modifiedNs) {
        return matcher.take(path, size, modifiedNs);
      });
  matcher.finish(useCache);
  std::vector<size_t>().swap(takenOutPaths);
  // Only the songs the cache did not answer are looked at.
  std::vector<uint32_t> unanswered;
  for (size_t i = 0; i < positions.size(); ++i) {
    if (!matcher.answers(i)) unanswered.push_back(positions[i]);
  }
  const std::vector<SongToRead> reading =
      songsToRead(songs, songTags, unanswered);
  const std::vector<SongRead> read = readSongs(
      reading, [](size_t, const os::FileStatus&, SongTags&) { return false; },
      kTagThreads, scannedBefore(songs, unanswered));
  if (bVerbose) {
    for (const SongToRead& song : toRead) {
      if (!song.tags->known) printLine("Can't read the tags of ", *song.path);
    }
  }
  if (!useCache) return;
  const auto fresh = readFromFiles(reading, read);
  const std::vector<std::string> gone = goneFromCache(matcher.strangers());
  std::string problem;
  if (!cache.update(fresh, gone, problem)) printLine(problem);
}

void FillJob::noteTakenOut(const SongEntry& song) {
  if (needsEveryTag()) {
    takenOutPaths.push_back(pathHash(song.sourcePath.native()));
  }
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
