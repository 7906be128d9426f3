#include "cache/song_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cache/tag_blob.h"
#include "test_util.h"

namespace {

CachedSong songOf(const std::string& title, uint64_t size) {
  return CachedSong{size, 1700000000123456789,
                    SongTags{title, "\xc3\x84rtist", "Band", "Album", 2, 11,
                             1999, "Rock", 212345, 4096, true, "flac"}};
}

// Every field of `song`, for one comparison.
std::string fieldsOf(const CachedSong& song) {
  const SongTags& t = song.tags;
  std::ostringstream text;
  text << song.size << "|" << song.modifiedNs << "|" << t.title << "|"
       << t.artist << "|" << t.albumArtist << "|" << t.album << "|" << t.disc
       << "|" << t.track << "|" << t.year << "|" << t.genre << "|"
       << t.playingMs << "|" << t.tagBytes << "|" << t.known << "|" << t.codec;
  return text.str();
}

}  // namespace

TEST(SongCache, KeepsEntriesAcrossOpensAndDropsTheGoneOnes) {
  TempDir dir;
  const std::string path = dir / "new/folders/songs.sqlite";
  const std::string odd = std::string("/m/odd\xff\n name.mp3");
  {
    SongCache cache;
    std::string notice, problem;
    ASSERT_TRUE(cache.open(path, notice, problem)) << problem;
    EXPECT_EQ(notice + problem, "");
    ASSERT_TRUE(cache.update({{"/m/a.mp3", songOf("A", 10)},
                              {odd, songOf("B", 20)},
                              {"/m/c.mp3", songOf("C", 30)}},
                             {}, problem))
        << problem;
    ASSERT_TRUE(
        cache.update({{"/m/a.mp3", songOf("A2", 11)}}, {"/m/c.mp3"}, problem))
        << problem;
  }
  SongCache cache;
  CachedSongs songs;
  std::string notice, problem;
  ASSERT_TRUE(cache.open(path, notice, problem) &&
              cache.loadAll(songs, notice, problem))
      << problem;
  ASSERT_EQ(songs.size(), 2u);
  EXPECT_EQ(fieldsOf(songs.at("/m/a.mp3")), fieldsOf(songOf("A2", 11)));
  EXPECT_EQ(songs.at(odd).tags.title, "B");
}

// Whether this process holds a descriptor of the file at `path`.
bool holdsOpen(const std::string& path) {
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == path) return true;
  }
  return false;
}

// A cache whose pages after the first three (its header and the roots of
// its table and index) are garbled: it opens, and fails while it is read.
std::string cacheDamagedInside(const std::string& path) {
  {
    SongCache cache;
    std::string notice, problem;
    std::vector<std::pair<std::string, CachedSong>> songs;
    songs.reserve(3000);
    for (int i = 0; i < 3000; ++i) {
      songs.emplace_back("/m/" + std::to_string(i) + ".mp3", songOf("T", 1));
    }
    EXPECT_TRUE(cache.open(path, notice, problem) &&
                cache.update(songs, {}, problem))
        << problem;
  }
  std::string content = readText(path);
  constexpr size_t kPage = 4096;
  for (size_t i = 3 * kPage; i < content.size(); ++i) content[i] = '\x07';
  return content;
}

TEST(SongCache, DamagedFileIsSetAsideAndANewOneBuilt) {
  TempDir dir;
  const std::string path = dir / "songs.sqlite";
  for (const std::string& content :
       {std::string(3000, 'x'), "SQLite format 3" + std::string(4000, '\x07'),
        cacheDamagedInside(path)}) {
    writeText(path, content);
    {
      SongCache cache;
      CachedSongs songs;
      std::string notice, problem;
      const bool used = cache.open(path, notice, problem) &&
                        cache.loadAll(songs, notice, problem);
      EXPECT_TRUE(used) << problem;
      EXPECT_EQ(notice, "Song cache " + path + " is damaged: set aside as " +
                            path + ".damaged, a new one is built.");
      EXPECT_EQ(readText(path + ".damaged"), content);
      EXPECT_TRUE(songs.empty());
      EXPECT_TRUE(cache.update({{"/m/a.mp3", songOf("A", 1)}}, {}, problem))
          << problem;
    }
    EXPECT_FALSE(holdsOpen(path + ".damaged"));
    EXPECT_FALSE(holdsOpen(path));
  }
}

TEST(SongCache, FolderThatCannotBeMadeIsOneLine) {
  TempDir dir;
  writeText(dir / "file", "x");
  SongCache cache;
  std::string notice, problem;
  EXPECT_FALSE(cache.open(dir / "file/songs.sqlite", notice, problem));
  EXPECT_EQ(problem, "Song cache " + (dir / "file/songs.sqlite") +
                         " not used: can't create its folder: File exists");
}

TEST(SongCache, TagBlobsComeBackWholeAndCutOnesAreRefused) {
  SongTags large = songOf("T", 1).tags;
  large.disc = UINT32_MAX;
  large.year = 0;
  large.playingMs = INT64_MAX;
  large.tagBytes = UINT64_MAX;
  large.title = std::string(300, 'x') + std::string(1, '\0') + "\xff";
  large.codec = "";
  for (const SongTags& tags : {SongTags(), songOf("Title", 1).tags, large}) {
    const std::string blob = packTags(tags);
    SongTags back;
    ASSERT_TRUE(unpackTags(blob, back));
    EXPECT_EQ(fieldsOf(CachedSong{0, 0, back}),
              fieldsOf(CachedSong{0, 0, tags}));
    for (size_t cut = 0; cut < blob.size(); ++cut) {
      EXPECT_FALSE(unpackTags(std::string_view(blob).substr(0, cut), back))
          << cut;
    }
    EXPECT_FALSE(unpackTags(blob + '\0', back));
  }
  // A number of more than 64 bits and a flag other than 0 or 1.
  SongTags back;
  EXPECT_FALSE(unpackTags(std::string(10, '\xff') + '\x01', back));
  EXPECT_FALSE(unpackTags(std::string("\x02") + std::string(11, '\0'), back));
}
