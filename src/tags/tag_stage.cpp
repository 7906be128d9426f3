#include <cstdlib>
#include <unordered_set>

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

// readSongs of `paths`, answered by the entries of `cached` whose size and
// time are the song's.
std::vector<SongRead> readThroughCache(const std::vector<std::string>& paths,
                                       const CachedSongs& cached) {
  return readSongs(
      paths,
      [&](size_t i, const os::FileStatus& status, SongTags& tags) {
        const auto found = cached.find(paths[i]);
        if (found == cached.end() || found->second.size != status.size ||
            found->second.modifiedNs != nanosecondsOf(status.modified)) {
          return false;
        }
        tags = found->second.tags;
        return true;
      },
      kTagThreads);
}

}  // namespace

bool FillJob::needsEveryTag() const {
  // A fill of the free space counts each song's line in the playlist,
  // its title included.
  return fillMs != 0 || artistLimit != 0 || bConvert ||
         (bFillAll && !playlistName.empty());
}

bool FillJob::openSongCache(SongCache& cache, CachedSongs& cached) const {
  const char* off = std::getenv("PLINKARD_NO_CACHE");
  if (off != nullptr && std::string(off) == "1") return false;
  const std::string path = songCachePath();
  if (path.empty()) {
    printLine("Song cache not used: neither XDG_CACHE_HOME nor HOME is set.");
    return false;
  }
  std::string notice, problem;
  const bool opened = cache.open(path, notice, problem) &&
                      cache.loadAll(cached, notice, problem);
  if (!notice.empty()) printLine(notice);
  if (!problem.empty()) printLine(problem);
  return opened;
}

std::vector<std::string> FillJob::goneFromCache(
    const CachedSongs& cached,
    const std::unordered_set<std::string_view>& looked) const {
  std::vector<std::string> folders;
  for (const auto& input : inputDirs) {
    folders.push_back(absoluteForm(input.native()));
  }
  std::vector<std::string> candidates;
  for (const auto& [path, song] : cached) {
    if (looked.count(path) == 0 && below(path, folders)) {
      candidates.push_back(path);
    }
  }
  // Only what is certainly not there goes: a song below a folder that
  // cannot be looked into keeps its entry.
  const std::vector<SongRead> found = readSongs(
      candidates, [](size_t, const os::FileStatus&, SongTags&) { return true; },
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
  SongCache cache;
  CachedSongs cached;
  const bool useCache = openSongCache(cache, cached);
  std::vector<std::string> paths;
  paths.reserve(positions.size());
  for (uint32_t position : positions) {
    paths.push_back(songs[position].sourcePath.native());
  }
  std::vector<SongRead> read = readThroughCache(paths, cached);
  std::vector<std::pair<std::string, CachedSong>> fresh;
  for (size_t i = 0; i < paths.size(); ++i) {
    SongRead& song = read[i];
    if (bVerbose && !song.tags.known) {
      printLine("Can't read the tags of ", paths[i]);
    }
    if (useCache && song.readFromFile) {
      fresh.emplace_back(
          paths[i], CachedSong{song.status.size,
                               nanosecondsOf(song.status.modified), song.tags});
    }
    songTags[positions[i]] = std::move(song.tags);
  }
  if (!useCache) return;
  std::vector<std::string> gone;
  if (pruneCache) {
    gone = goneFromCache(cached, {paths.begin(), paths.end()});
  }
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
