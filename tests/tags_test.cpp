#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "audio_files.h"
#include "tags/song_tags.h"
#include "test_util.h"

TEST(Tags, ReadsTagsAndPlayingTimeOfEachFormat) {
  TempDir dir;
  const AudioSpec wanted{"Tïtle", "Artist", "Album Artist", "Album", 7, 2, 1.5};
  const std::pair<const char*, const char*> formats[] = {{".mp3", "mp3"},
                                                         {".flac", "flac"},
                                                         {".ogg", "vorbis"},
                                                         {".opus", "opus"},
                                                         {".m4a", "aac"}};
  for (const auto& [extension, codec] : formats) {
    const std::string path = dir / (std::string("song") + extension);
    makeAudio(path, wanted);
    const SongTags tags = readTagsOfFile(path);
    EXPECT_TRUE(tags.known) << extension;
    EXPECT_EQ(tags.title, wanted.title) << extension;
    EXPECT_EQ(tags.artist, wanted.artist) << extension;
    EXPECT_EQ(tags.albumArtist, wanted.albumArtist) << extension;
    EXPECT_EQ(tags.album, wanted.album) << extension;
    EXPECT_EQ(tags.track, wanted.track) << extension;
    EXPECT_EQ(tags.disc, wanted.disc) << extension;
    EXPECT_NEAR(static_cast<double>(tags.playingMs), 1500, 200) << extension;
    EXPECT_EQ(tags.codec, codec) << extension;
  }
  // The codec is the audio's, whatever the name says.
  const std::pair<const char*, const char*> renamed[] = {
      {"song.mp3", "mp3-named.flac"}, {"song.flac", "flac-named.mp3"}};
  for (const auto& [from, to] : renamed) {
    writeText(dir / to, readText(dir / from));
    EXPECT_EQ(readTagsOfFile(dir / to).codec, readTagsOfFile(dir / from).codec)
        << to;
  }
}

TEST(Tags, BrokenFilesAreUnknownNeverFailures) {
  TempDir dir;
  makeAudio(dir / "whole.mp3", AudioSpec{"T", "A", "", "", 1, 0, 1});
  const std::string whole = readText(dir / "whole.mp3");
  const std::pair<const char*, std::string> cases[] = {
      {"empty.mp3", ""},
      {"text.mp3", "just some text, no audio"},
      {"head.mp3", whole.substr(0, 10)},
      {"noise.flac", std::string(5000, '\xff')},
      {"header.ogg", "OggS" + std::string(100, '\x01')},
  };
  for (const auto& [name, content] : cases) {
    writeText(dir / name, content);
    const SongTags tags = readTagsOfFile(dir / name);
    EXPECT_FALSE(tags.known) << name;
    EXPECT_EQ(tags.playingMs, -1) << name;
    EXPECT_EQ(tags.title, "") << name;
  }
  EXPECT_FALSE(readTagsOfFile(dir / "missing.mp3").known);
  EXPECT_FALSE(readTagsOfFile(dir.path()).known);
}

// 100 MB of zeros named .mp3: the frame search stops at the read limit.
TEST(Tags, LargeFileOfZerosIsReadOnlyUpToTheLimit) {
  const uint64_t size = 100u << 20;
  for (const char* name : {"zeros.mp3", "zeros.flac", "zeros.m4a", "zeros"}) {
    uint64_t served = 0;
    const SongTags tags =
        readTags(name, size, [&](uint64_t offset, char* data, size_t length) {
          EXPECT_LE(offset + length, size) << name;
          served += length;
          std::memset(data, 0, length);
          return length;
        });
    EXPECT_FALSE(tags.known) << name;
    EXPECT_LE(served, kTagReadLimit) << name;
    EXPECT_GT(served, 0u) << name;
  }
}

TEST(Tags, ReadSongsGivesResultsByPositionAndAsksTheCacheFirst) {
  TempDir dir;
  std::vector<std::string> paths;
  for (unsigned i = 0; i < 12; ++i) {
    paths.push_back(dir / ("s" + std::to_string(i) + ".mp3"));
    makeAudio(paths.back(),
              AudioSpec{"Song " + std::to_string(i), "A", "", "", i + 1, 0, 1});
  }
  paths.push_back(dir / "gone.mp3");
  std::vector<SongTags> tags(paths.size());
  for (SongTags& song : tags) song.title = "old";
  std::vector<SongToRead> songs;
  for (size_t i = 0; i < paths.size(); ++i) {
    songs.push_back(SongToRead{&paths[i], &tags[i]});
  }
  const auto results = readSongs(
      songs,
      [](size_t index, const os::FileStatus&, SongTags& tags) {
        if (index % 3 != 0) return false;
        tags.title = "cached";
        return true;
      },
      4);
  ASSERT_EQ(results.size(), paths.size());
  for (size_t i = 0; i + 1 < paths.size(); ++i) {
    const bool cached = i % 3 == 0;
    EXPECT_EQ(results[i].readFromFile, !cached) << i;
    EXPECT_EQ(tags[i].title, cached ? "cached" : "Song " + std::to_string(i))
        << i;
    EXPECT_GT(results[i].status.size, 0u) << i;
  }
  EXPECT_EQ(results.back().status.kind, os::FileStatus::Kind::Missing);
  EXPECT_FALSE(results.back().readFromFile);
  EXPECT_EQ(tags.back().title, "");
}
