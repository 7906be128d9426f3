#include "cache/song_cache.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

CachedSong songOf(const std::string& title, uint64_t size) {
  CachedSong song;
  song.size = size;
  song.modifiedNs = 1700000000123456789;
  song.tags.title = title;
  song.tags.artist = "Ärtist";
  song.tags.albumArtist = "Band";
  song.tags.album = "Album";
  song.tags.disc = 2;
  song.tags.track = 11;
  song.tags.year = 1999;
  song.tags.genre = "Rock";
  song.tags.playingMs = 212345;
  song.tags.tagBytes = 4096;
  song.tags.known = true;
  return song;
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
  const CachedSong& a = songs.at("/m/a.mp3");
  const CachedSong expected = songOf("A2", 11);
  EXPECT_EQ(a.size, 11u);
  EXPECT_EQ(a.modifiedNs, expected.modifiedNs);
  EXPECT_EQ(a.tags.title, "A2");
  EXPECT_EQ(a.tags.artist, expected.tags.artist);
  EXPECT_EQ(a.tags.albumArtist, "Band");
  EXPECT_EQ(a.tags.album, "Album");
  EXPECT_EQ(a.tags.genre, "Rock");
  EXPECT_EQ(a.tags.disc * 100 + a.tags.track, 211u);
  EXPECT_EQ(a.tags.year, 1999u);
  EXPECT_EQ(a.tags.playingMs, 212345);
  EXPECT_EQ(a.tags.tagBytes, 4096u);
  EXPECT_TRUE(a.tags.known);
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
