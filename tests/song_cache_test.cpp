#include "cache/song_cache.h"

#include <gtest/gtest.h>

#include <sstream>

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

TEST(SongCache, DamagedFileIsSetAsideAndANewOneBuilt) {
  TempDir dir;
  const std::string path = dir / "songs.sqlite";
  for (const std::string& content :
       {std::string(3000, 'x'),
        "SQLite format 3" + std::string(4000, '\x07')}) {
    writeText(path, content);
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
