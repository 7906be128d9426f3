#include "plan/albums.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "run_output.h"
#include "test_util.h"

TEST(Albums, TrackOrderComparesRunsOfDigitsAsNumbers) {
  const std::pair<std::string, std::string> before[] = {
      {"2 Song.mp3", "10 Song.mp3"},
      {"Song 9.mp3", "Song 10.mp3"},
      {"01 A.mp3", "1 A.mp3"},
      {"1 A.mp3", "01 B.mp3"},
      {"Track", "Track 1"},
      {"9 x", "a"},
      {"B.mp3", "a.mp3"},
      {"z", "\xc3\xa9"},
      {"99999999999999999999", "100000000000000000000"},
  };
  for (const auto& [a, b] : before) {
    EXPECT_TRUE(trackOrderLess(a, b)) << a << " < " << b;
    EXPECT_FALSE(trackOrderLess(b, a)) << b << " < " << a;
  }
}

TEST(Albums, GroupsByFolderInTrackOrder) {
  const Albums albums = groupAlbums(
      {"/l/B/2.mp3", "/l/A/10.mp3", "/l/B/1.mp3", "/l/A/9.mp3", "/t.mp3"});
  EXPECT_EQ(albums.songs, (std::vector<uint32_t>{2, 0, 3, 1, 4}));
  EXPECT_EQ(albums.starts, (std::vector<uint32_t>{0, 2, 4, 5}));
}

// Albums of 700 KiB in two songs, 300, 1000 and 99 KiB under a budget of
// 1000 KiB: the third never fits, and the walk goes over the others.
TEST(Albums, WalkTakesWholeAlbumsAndLeavesOutTooLargeOnes) {
  Albums albums;
  albums.songs = {0, 1, 2, 3, 4};
  albums.starts = {0, 2, 3, 4, 5};
  const AlbumWalk walk(albums, {350, 350, 300, 1000, 99}, 1000);
  EXPECT_EQ(walk.tooLarge(), std::vector<uint32_t>{2});
  std::vector<uint32_t> choice;
  EXPECT_EQ(walk.firstFit({1, 2, 0}, choice), 399u);
  EXPECT_EQ(choice, (std::vector<uint32_t>{2, 4}));
  choice.clear();
  EXPECT_EQ(walk.firstFit({0, 1, 2}, choice), 799u);
  EXPECT_EQ(choice, (std::vector<uint32_t>{0, 1, 4}));
}

namespace {

// An album per letter, each song named after its album and track number.
const std::map<std::string, std::vector<std::string>> kLibrary = {
    {"Alpha", {"Alpha 1.mp3", "Alpha 2.mp3", "Alpha 10.mp3"}},
    {"Beta", {"Beta 01.mp3", "Beta 2.mp3"}},
    {"Gamma", {"Gamma 3.mp3", "Gamma 20.mp3", "Gamma 100.mp3"}},
    {"Delta", {"Delta 1.mp3", "Delta 9.mp3"}},
};

void writeLibrary(const TempDir& dir) {
  int kib = 300;
  for (const auto& [album, songs] : kLibrary) {
    for (const std::string& song : songs) {
      writeFile(dir / ("lib/" + album + "/" + song), (kib += 7) * 1024);
    }
  }
}

// The songs a run planned, in plan order: from its progress lines, or the
// sources of its dry-run lines.
std::vector<std::string> plannedSongs(const std::string& out) {
  std::vector<std::string> songs;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Copying file ", 0) == 0) {
      songs.push_back(line.substr(line.find(": ") + 2));
    } else if (line.rfind("Would ", 0) == 0) {
      const size_t end = line.find(" to ");
      const size_t name = line.rfind('/', end) + 1;
      songs.push_back(line.substr(name, end - name));
    }
  }
  return songs;
}

// The albums of `songs`, which must be whole albums in track order.
std::vector<std::string> wholeAlbums(const std::vector<std::string>& songs) {
  std::vector<std::string> albums;
  for (size_t i = 0; i < songs.size(); i += kLibrary.at(albums.back()).size()) {
    albums.push_back(songs[i].substr(0, songs[i].find(' ')));
    const std::vector<std::string>& tracks = kLibrary.at(albums.back());
    const size_t end = std::min(songs.size(), i + tracks.size());
    EXPECT_EQ(std::vector<std::string>(songs.begin() + i, songs.begin() + end),
              tracks);
  }
  return albums;
}

using Args = std::vector<std::string>;

RunOptions inDir(const TempDir& dir) {
  RunOptions options;
  options.cwd = dir.path();
  return options;
}

}  // namespace

// One album fits, one is larger than the fill size: the plan is the first
// in track order, and a verbose run names the other.
TEST(Albums, RunCopiesAnAlbumInTrackOrderAndSkipsOneTooLarge) {
  TempDir dir;
  writeFile(dir / "lib/A/10 c.mp3", 100 << 10);
  writeFile(dir / "lib/A/2 b.mp3", 100 << 10);
  writeFile(dir / "lib/A/1 a.mp3", 100 << 10);
  writeFile(dir / "lib/Big/x.mp3", 3 << 20);
  makeDirs(dir / "out");
  const Args args = {"-i", "lib", "-o", "out", "-s", "3", "-a"};
  RunResult run = runBinary(args, inDir(dir));
  EXPECT_EQ(run.out,
            echoLines("lib", "out") + "Planning whole albums!\n" +
                kDefaultFilter + scanLines(4) + planLines("0.097", false) +
                copyingLine(1, 3, "1 a.mp3") + copyingLine(2, 3, "2 b.mp3") +
                copyingLine(3, 3, "10 c.mp3") +
                summaryLines("0.292969 / 3  MB (9.7%", 4, 3));
  run = runBinary({"-i", "lib", "-o", "out", "-s", "3", "-a", "-v", "-n"},
                  inDir(dir));
  EXPECT_NE(run.out.find("\nAlbum too large, skipped: " + dir / "lib/Big\n"),
            std::string::npos)
      << run.out;
}

// Under every naming mode, moved, or in a dry run, the plan is whole albums
// in track order, and the songs land where the mode names them.
TEST(Albums, EveryModePlansWholeAlbums) {
  const std::pair<Args, std::string> rows[] = {
      {{"-d", "0"}, "#"},         {{"-d", "1"}, "@/#"}, {{"-d", "2"}, "@-#"},
      {{"-d", "1", "-m"}, "@/#"}, {{"-n"}, ""},
  };
  for (const auto& [extra, layout] : rows) {
    TempDir dir;
    writeLibrary(dir);
    makeDirs(dir / "out");
    Args args = {"-i", "lib", "-o", "out", "-s", "2", "-a"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult run = runBinary(args, inDir(dir));
    const std::vector<std::string> songs = plannedSongs(run.out);
    const std::vector<std::string> albums = wholeAlbums(songs);
    std::set<std::string> landed;
    for (const std::string& song : songs) {
      if (layout.empty()) break;
      std::string name = layout;
      const std::string album = song.substr(0, song.find(' '));
      if (name != "#") name.replace(name.find('@'), 1, album);
      name.replace(name.find('#'), 1, song);
      landed.insert(name);
      if (layout[1] == '/') landed.insert(album + "/");
      EXPECT_EQ(pathExists(dir / ("lib/" + album + "/" + song)),
                extra.size() < 3)
          << song;
    }
    EXPECT_EQ(listTree(dir / "out"), landed) << layout;
    EXPECT_GE(albums.size(), 2u) << run.out;
    EXPECT_EQ(run.status, 0) << run.out;
  }
}

// Two runs with one used-songs list never plan the same album twice.
TEST(Albums, ListKeepsTheAlbumsOfEarlierRunsOut) {
  TempDir dir;
  writeLibrary(dir);
  std::set<std::string> seen;
  for (const char* out : {"out1", "out2"}) {
    makeDirs(dir / out);
    const RunResult run = runBinary(
        {"-i", "lib", "-o", out, "-s", "1", "-a", "-l", "used"}, inDir(dir));
    const std::vector<std::string> albums = wholeAlbums(plannedSongs(run.out));
    EXPECT_FALSE(albums.empty()) << run.out;
    for (const std::string& album : albums) {
      EXPECT_TRUE(seen.insert(album).second) << album << " again";
    }
  }
}
