// The one unit that includes SQLite.

#include "cache/song_cache.h"

#include <sqlite3.h>

#include <cstdlib>

#include "cache/tag_blob.h"
#include "os/folders.h"

namespace {

// The format of the table; a cache of another version is built anew.
constexpr int kSchemaVersion = 3;

// Rows are kept in the order they were written, which is the order the
// scan found the songs in: a run reads them back in about the order of its
// own songs, so that matching them walks its memory forwards. A song's tags
// are one blob (cache/tag_blob.h).
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS songs ("
    " path BLOB NOT NULL UNIQUE, size INTEGER, modified INTEGER, tags BLOB)";

bool damaged(int code) {
  code &= 0xff;
  return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() const { return statement_; }
  bool valid() const { return statement_ != nullptr; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

void bindSong(sqlite3_stmt* insert, const std::string& path,
              const CachedSong& song) {
  sqlite3_bind_blob(insert, 1, path.data(), static_cast<int>(path.size()),
                    SQLITE_STATIC);
  sqlite3_bind_int64(insert, 2, static_cast<sqlite3_int64>(song.size));
  sqlite3_bind_int64(insert, 3, song.modifiedNs);
  const std::string tags = packTags(song.tags);
  sqlite3_bind_blob(insert, 4, tags.data(), static_cast<int>(tags.size()),
                    SQLITE_TRANSIENT);
}

std::string_view blobAt(sqlite3_stmt* row, int column) {
  const auto* data = static_cast<const char*>(sqlite3_column_blob(row, column));
  return data == nullptr
             ? std::string_view()
             : std::string_view(data, static_cast<size_t>(
                                          sqlite3_column_bytes(row, column)));
}

}  // namespace

SongCache::~SongCache() { close(); }

void SongCache::close() {
  sqlite3_close(db_);
  db_ = nullptr;
}

std::string SongCache::failure(const char* what) const {
  return "Song cache " + path_ + " " + what + ": " +
         (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
}

bool SongCache::open(const std::string& path, std::string& notice,
                     std::string& problem) {
  path_ = path;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (const std::error_code error =
            os::createPrivateFolders(path.substr(0, slash))) {
      problem = "Song cache " + path +
                " not used: can't create its folder: " + error.message();
      return false;
    }
  }
  if (openFile(problem)) return true;
  if (problem.empty()) return setAside(notice, problem);
  return false;
}

// Opens the database and makes its table. A damaged file leaves `problem`
// empty and returns false.
bool SongCache::openFile(std::string& problem) {
  close();
  const int opened = sqlite3_open_v2(
      path_.c_str(), &db_,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
      nullptr);
  if (opened != SQLITE_OK) {
    problem = failure("not used");
    close();
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyMs);
  int version = 0;
  {
    Statement query(db_, "PRAGMA user_version");
    int code = query.valid() ? sqlite3_step(query.get()) : sqlite3_errcode(db_);
    if (code == SQLITE_ROW) {
      version = sqlite3_column_int(query.get(), 0);
    } else if (damaged(code)) {
      return false;
    } else {
      problem = failure("not used");
      return false;
    }
  }
  if (version == kSchemaVersion) return true;
  const std::string setUp =
      std::string(version != 0 ? "DROP TABLE IF EXISTS songs;" : "") + kSchema +
      "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
  const int made = sqlite3_exec(db_, setUp.c_str(), nullptr, nullptr, nullptr);
  if (made == SQLITE_OK) return true;
  if (!damaged(made)) problem = failure("not used");
  return false;
}

bool SongCache::setAside(std::string& notice, std::string& problem) {
  close();
  const std::string aside = path_ + ".damaged";
  if (const std::error_code error = os::renamePath(path_, aside)) {
    problem = "Song cache " + path_ +
              " is damaged and can't be set aside: " + error.message();
    return false;
  }
  notice = "Song cache " + path_ + " is damaged: set aside as " + aside +
           ", a new one is built.";
  if (openFile(problem)) return true;
  if (problem.empty()) problem = "Song cache " + path_ + " not used: damaged";
  return false;
}

bool SongCache::loadEach(const TagsFor& tagsFor, std::string& notice,
                         std::string& problem) {
  int code = SQLITE_OK;
  std::string failed;
  {
    Statement query(db_, "SELECT path, size, modified, tags FROM songs");
    code = sqlite3_errcode(db_);
    if (query.valid()) {
      sqlite3_stmt* row = query.get();
      while ((code = sqlite3_step(row)) == SQLITE_ROW) {
        SongTags* tags = tagsFor(
            blobAt(row, 0), static_cast<uint64_t>(sqlite3_column_int64(row, 1)),
            sqlite3_column_int64(row, 2));
        // Tags that are no blob of ours: the file was changed by another
        // hand.
        if (tags != nullptr && !unpackTags(blobAt(row, 3), *tags)) {
          code = SQLITE_CORRUPT;
          break;
        }
      }
    }
    if (code != SQLITE_DONE && !damaged(code)) failed = failure("not used");
  }
  // The query is finalized before a damaged file is closed and set aside.
  if (code == SQLITE_DONE) return true;
  if (damaged(code)) return setAside(notice, problem);
  problem = failed;
  return false;
}

bool SongCache::loadAll(CachedSongs& songs, std::string& notice,
                        std::string& problem) {
  songs.clear();
  const std::string before = notice;
  const bool loaded = loadEach(
      [&](std::string_view path, uint64_t size, int64_t modifiedNs) {
        CachedSong& song = songs[std::string(path)];
        song.size = size;
        song.modifiedNs = modifiedNs;
        return &song.tags;
      },
      notice, problem);
  // A database found damaged on the way was set aside: none of it counts.
  if (!loaded || notice != before) songs.clear();
  return loaded;
}

bool SongCache::update(
    const std::vector<std::pair<std::string, CachedSong>>& songs,
    const std::vector<std::string>& gone, std::string& problem) {
  if (songs.empty() && gone.empty()) return true;
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    problem = failure("not updated");
    return false;
  }
  bool written = true;
  {
    Statement insert(db_, "INSERT OR REPLACE INTO songs VALUES (?, ?, ?, ?)");
    Statement remove(db_, "DELETE FROM songs WHERE path = ?");
    written = insert.valid() && remove.valid();
    for (size_t i = 0; written && i < songs.size(); ++i) {
      bindSong(insert.get(), songs[i].first, songs[i].second);
      written = sqlite3_step(insert.get()) == SQLITE_DONE;
      sqlite3_reset(insert.get());
    }
    for (size_t i = 0; written && i < gone.size(); ++i) {
      sqlite3_bind_blob(remove.get(), 1, gone[i].data(),
                        static_cast<int>(gone[i].size()), SQLITE_STATIC);
      written = sqlite3_step(remove.get()) == SQLITE_DONE;
      sqlite3_reset(remove.get());
    }
  }
  if (written &&
      sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
    return true;
  }
  problem = failure("not updated");
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

std::string songCachePath() {
  const char* cacheHome = std::getenv("XDG_CACHE_HOME");
  if (cacheHome != nullptr && cacheHome[0] == '/') {
    return std::string(cacheHome) + "/plinkard/songs.sqlite";
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return "";
  return std::string(home) + "/.cache/plinkard/songs.sqlite";
}
