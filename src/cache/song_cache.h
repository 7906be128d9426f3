#ifndef PLINKARD_CACHE_SONG_CACHE_H_
#define PLINKARD_CACHE_SONG_CACHE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tags/song_tags.h"

struct sqlite3;

// A song's tags as the cache keeps them, with the size and modification
// time of the file they were read from.
struct CachedSong {
  uint64_t size = 0;
  int64_t modifiedNs = 0;  // nanoseconds since the epoch
  SongTags tags;
};

// Every entry of a cache, by the song's path.
using CachedSongs = std::unordered_map<std::string, CachedSong>;

// The song cache: an SQLite database of each song's tags by its path, size
// and modification time. It is only a cache: every failure comes back as
// false with one line of text in `problem` that names the file, and the
// caller goes on without it. The database keeps a rollback journal, which
// needs no shared memory, so a cache in a home folder on a network file
// system works like one on a local disk; another run that holds it is
// waited for at most kBusyMs.
class SongCache {
 public:
  static constexpr int kBusyMs = 3000;

  SongCache() = default;
  ~SongCache();
  SongCache(const SongCache&) = delete;
  SongCache& operator=(const SongCache&) = delete;

  // Opens the cache at `path`, creating it and its missing folders. A file
  // that is no database or is damaged is renamed to `path` + ".damaged"
  // and a new one made, with `notice` saying so; then true.
  bool open(const std::string& path, std::string& notice, std::string& problem);
  // Where an entry's tags go, told its path, size and modification time;
  // nullptr when they are not wanted.
  using TagsFor = std::function<SongTags*(std::string_view path, uint64_t size,
                                          int64_t modifiedNs)>;
  // Reads every entry, in one query, and puts its tags where `tagsFor`
  // says. A damaged database found here is set aside like open does
  // (`notice`); tags put in place before a failure are then no longer the
  // cache's.
  bool loadEach(const TagsFor& tagsFor, std::string& notice,
                std::string& problem);
  // loadEach into `songs`, which holds no entries after a failure.
  bool loadAll(CachedSongs& songs, std::string& notice, std::string& problem);
  // Writes `songs` (replacing their earlier entries) and removes the
  // entries of `gone`, all or nothing.
  bool update(const std::vector<std::pair<std::string, CachedSong>>& songs,
              const std::vector<std::string>& gone, std::string& problem);

 private:
  bool openFile(std::string& problem);
  bool setAside(std::string& notice, std::string& problem);
  std::string failure(const char* what) const;
  void close();

  std::string path_;
  sqlite3* db_ = nullptr;
};

// The cache's path: plinkard/songs.sqlite below $XDG_CACHE_HOME, or below
// ~/.cache when that is not set to an absolute path; "" when neither
// variable says where.
std::string songCachePath();

#endif  // PLINKARD_CACHE_SONG_CACHE_H_
