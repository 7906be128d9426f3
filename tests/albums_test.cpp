#include "plan/albums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "audio_files.h"
#include "run_output.h"
#include "test_util.h"

TEST(Albums, TrackOrderComparesRunsOfDigitsAsNumbers) {
  // clang-format off
  const std::pair<std::string, std::string> before[] = {
      {"2 Song.mp3", "10 Song.mp3"}, {"Song 9.mp3", "Song 10.mp3"},
      {"01 A.mp3", "1 A.mp3"}, {"1 A.mp3", "01 B.mp3"}, {"Track", "Track 1"},
      {"9 x", "a"}, {"B.mp3", "a.mp3"}, {"z", "\xc3\xa9"},
      {"99999999999999999999", "100000000000000000000"}};
  // clang-format on
  for (const auto& [a, b] : before) {
    EXPECT_TRUE(trackOrderLess(a, b)) << a << " < " << b;
    EXPECT_FALSE(trackOrderLess(b, a)) << b << " < " << a;
  }
}

// When one name is a prefix of the other the shorter comes first, and the
// order is strict and transitive over all the names. Each name sits at the
// end of a heap block of its own length, without a NUL, so that the
// sanitizer build catches a read past it; the shorter one of a prefix pair
// is also compared as a slice of the longer one's block.
TEST(Albums, TrackOrderOfPrefixesIsAStrictOrderWithinTheNames) {
  // clang-format off
  const std::pair<std::string, std::string> before[] = {
      {"01 Song", "01 Song (Live)"}, {"Track 1", "Track 10"}, {"a", "ab"},
      {"Song", "Song2"}, {"Track 1", "Track 1a"}, {"Track 2", "Track 10"},
      {"007", "7"}, {"1", "10"}, {"", "a"}, {"", "0"}, {"Song 09", "Song 9"},
      {"Song 9", "Song 9 (Live)"}, {"1 Song", "01 Song (Live)"},
      {"Track 1", "Track 01a"}};
  // clang-format on
  std::vector<std::unique_ptr<char[]>> blocks;
  const auto block = [&](const std::string& name) {
    blocks.emplace_back(new char[name.size()]);
    std::copy(name.begin(), name.end(), blocks.back().get());
    return std::string_view(blocks.back().get(), name.size());
  };
  std::vector<std::string_view> names;
  for (const auto& [shorter, longer] : before) {
    const std::string_view b = block(longer);
    const bool prefix = longer.compare(0, shorter.size(), shorter) == 0;
    for (const std::string_view a :
         {block(shorter),
          prefix ? b.substr(0, shorter.size()) : block(shorter)}) {
      EXPECT_TRUE(trackOrderLess(a, b)) << shorter << " < " << longer;
      EXPECT_FALSE(trackOrderLess(b, a)) << longer << " < " << shorter;
      names.push_back(a);
    }
    names.push_back(b);
  }
  for (const std::string_view a : names) {
    for (const std::string_view b : names) {
      const bool less = trackOrderLess(a, b);
      EXPECT_EQ(less || trackOrderLess(b, a), a != b) << a << " vs " << b;
      for (const std::string_view c : names) {
        if (less && trackOrderLess(b, c)) {
          EXPECT_TRUE(trackOrderLess(a, c)) << a << " < " << b << " < " << c;
        }
      }
    }
  }
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

using Args = std::vector<std::string>;

// Albums whose songs are named after album and track, of 307, 314, ... KiB.
const std::map<std::string, Args> kLibrary = {
    {"Alpha", {"Alpha 1.mp3", "Alpha 2.mp3", "Alpha 10.mp3"}},
    {"Beta", {"Beta 01.mp3", "Beta 2.mp3"}},
    {"Gamma", {"Gamma 3.mp3", "Gamma 20.mp3", "Gamma 100.mp3"}},
    {"Delta", {"Delta 1.mp3", "Delta 9.mp3"}},
};

// The library, and an album too large for any fill size below.
struct AlbumLibrary {
  AlbumLibrary() {
    uint64_t kib = 300;
    for (const auto& [album, songs] : kLibrary) {
      for (const std::string& song : songs) {
        writeFile(dir / ("lib/" + album + "/" + song), (kib += 7) * 1024);
      }
    }
    writeFile(dir / "lib/Huge/Huge 1.mp3", 3 << 20);
    makeDirs(dir / "out");
  }
  // Runs `args`; returns the albums it planned (from the progress or the
  // dry run's lines), checking that they are whole and in track order.
  std::vector<std::string> run(const Args& args, RunResult& result) const {
    RunOptions options;
    options.cwd = dir.path();
    result = runBinary(args, options);
    Args songs;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
      const bool dry = line.rfind("Would ", 0) == 0;
      if (!dry && line.rfind("Copying file ", 0) != 0) continue;
      if (dry) line.resize(line.find(" to "));
      songs.push_back(line.substr(line.find_last_of("/:") + 1 + !dry));
    }
    std::vector<std::string> albums;
    Args whole;
    while (whole.size() < songs.size()) {
      const std::string& song = songs[whole.size()];
      albums.push_back(song.substr(0, song.find(' ')));
      const Args& tracks = kLibrary.at(albums.back());
      whole.insert(whole.end(), tracks.begin(), tracks.end());
    }
    EXPECT_EQ(songs, whole) << result.out;
    return albums;
  }
  TempDir dir;
};

size_t countFiles(const std::string& folder) {
  const std::set<std::string> tree = listTree(folder);
  return std::count_if(tree.begin(), tree.end(), [](const std::string& entry) {
    return entry.back() != '/';
  });
}

}  // namespace

// Alpha fits into 1 MB, Huge does not: the plan is Alpha in track order.
TEST(Albums, RunCopiesAnAlbumInTrackOrder) {
  RunResult run;
  AlbumLibrary().run(
      {"-i", "lib", "-o", "out", "-s", "1", "-a", "-in", "Alpha|Huge"}, run);
  EXPECT_EQ(run.out,
            echoLines("lib", "out") + "Planning whole albums!\n" +
                "Regular Expression: File(path) must match \"Alpha|Huge\"\n" +
                kDefaultFilter + scanLines(11) +
                "Filtering done, 7 songs didn't pass.\n" +
                planLines("0.919", false) + copyingLine(1, 3, "Alpha 1.mp3") +
                copyingLine(2, 3, "Alpha 2.mp3") +
                copyingLine(3, 3, "Alpha 10.mp3") +
                summaryLines("0.919922 / 1  MB (91.9%", 4, 3));
}

// Under every naming mode, moved, or in a verbose dry run, the plan is
// whole albums in track order and every planned song lands (or, moved,
// leaves the library); the verbose run names the album too large.
TEST(Albums, EveryModePlansWholeAlbums) {
  const Args rows[] = {
      {"-d", "0"}, {"-d", "1"}, {"-d", "2"}, {"-m"}, {"-n", "-v"}};
  for (const Args& extra : rows) {
    AlbumLibrary library;
    Args args = {"-i", "lib", "-o", "out", "-s", "2", "-a"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult run;
    size_t songs = 0;
    for (const std::string& album : library.run(args, run)) {
      songs += kLibrary.at(album).size();
    }
    EXPECT_GE(songs, 4u) << run.out;
    EXPECT_EQ(countFiles(library.dir / "out"), extra[0] == "-n" ? 0 : songs);
    EXPECT_EQ(countFiles(library.dir / "lib"),
              extra[0] == "-m" ? 11 - songs : 11);
    const std::string tooLarge =
        "\nAlbum too large, skipped: " + library.dir / "lib/Huge\n";
    EXPECT_EQ(run.out.find(tooLarge) != std::string::npos, extra[0] == "-n");
  }
}

// Two runs with one used-songs list never plan the same album twice.
TEST(Albums, ListKeepsTheAlbumsOfEarlierRunsOut) {
  AlbumLibrary library;
  std::set<std::string> seen;
  for (const char* out : {"out", "out2"}) {
    makeDirs(library.dir / out);
    RunResult run;
    const std::vector<std::string> albums = library.run(
        {"-i", "lib", "-o", out, "-s", "1", "-a", "-l", "used"}, run);
    EXPECT_EQ(albums.size(), 1u) << run.out;
    for (const std::string& album : albums) {
      EXPECT_TRUE(seen.insert(album).second) << album << " again";
    }
  }
}

TEST(Albums, DiscFoldersByName) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"CD1", 1},        {"cd 02", 2},   {"Disc 2", 2}, {"disk3 - Live", 3},
      {"DISC_.-10", 10}, {"CD", 0},      {"Cds 1", 0},  {"Discs", 0},
      {"1 CD", 0},       {"Disco 2", 0}, {"cd007", 7},  {"Bonus", 0}};
  for (const auto& [name, number] : cases) {
    EXPECT_EQ(discFolderNumber(name), number) << name;
  }
  uint32_t disc = 0;
  EXPECT_EQ(albumFolderOf("/m/Album/CD 2/01.mp3", disc), "/m/Album");
  EXPECT_EQ(disc, 2u);
  EXPECT_EQ(albumFolderOf("/m/Album/01.mp3", disc), "/m/Album");
  EXPECT_EQ(disc, 0u);
}

// One album in two disc folders: one album for the planner, copied in disc
// then track order, by the tags where the songs have them.
TEST(Albums, DiscFoldersJoinTheirParentsAlbumInDiscAndTrackOrder) {
  TempDir dir;
  makeAudio(dir / "lib/Album/CD2/01 x.mp3", AudioSpec{});
  makeAudio(dir / "lib/Album/CD1/b.mp3", AudioSpec{"B", "", "", "", 1, 0, 1});
  makeAudio(dir / "lib/Album/CD1/a.mp3", AudioSpec{"A", "", "", "", 2, 0, 1});
  makeAudio(dir / "lib/Album/Disc 10/c.mp3", AudioSpec{});
  makeDirs(dir / "out");
  RunOptions options;
  options.cwd = dir.path();
  const RunResult run = runBinary(
      {"-i", "lib", "-o", "out", "-s", "100", "-a", "-d", "1", "-n"}, options);
  const std::string would = "Would copy " + (dir / "lib/Album/");
  EXPECT_NE(run.out.find(would + "CD1/b.mp3 to out/Album/CD1/b.mp3\n" + would +
                         "CD1/a.mp3 to out/Album/CD1/a.mp3\n" + would +
                         "CD2/01 x.mp3 to out/Album/CD2/01 x.mp3\n" + would +
                         "Disc 10/c.mp3 to out/Album/Disc 10/c.mp3\n"),
            std::string::npos)
      << run.out;
}

// With every song's tags read, sibling folders of one album by the tags
// are one album: -e 1 takes both.
TEST(Albums, SiblingFoldersOfOneAlbumByTagsJoinWithTags) {
  TempDir dir;
  makeAudio(dir / "lib/Best (1)/x.mp3",
            AudioSpec{"X", "", "V", "Best", 1, 1, 1});
  makeAudio(dir / "lib/Best (2)/y.mp3",
            AudioSpec{"Y", "", "V", "Best", 1, 2, 1});
  makeDirs(dir / "out");
  RunOptions options;
  options.cwd = dir.path();
  for (int round = 0; round < 3; ++round) {
    const RunResult run = runBinary({"-i", "lib", "-o", "out", "-s", "100",
                                     "-a", "-e", "1", "-t", "5", "-n"},
                                    options);
    EXPECT_NE(run.out.find("/Best (1)/x.mp3 to out/x.mp3\nWould copy " +
                           (dir / "lib/Best (2)/y.mp3")),
              std::string::npos)
        << run.out;
  }
}

// Under -d 0 the disc folders' songs of one name are one target: the first
// is copied, the other left out of the plan rather than failed.
TEST(Albums, SongsOfOneTargetNameInOneAlbumAreCopiedOnce) {
  TempDir dir;
  writeFile(dir / "lib/Album/CD1/01.mp3", 5000);
  writeFile(dir / "lib/Album/CD2/01.mp3", 6000);
  makeDirs(dir / "out");
  RunOptions options;
  options.cwd = dir.path();
  const RunResult run =
      runBinary({"-i", "lib", "-o", "out", "-s", "100", "-a"}, options);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(readText(dir / "out/01.mp3").size(), 5000u);
  EXPECT_NE(run.out.find("2 files were processed, 1 files werde copied."),
            std::string::npos)
      << run.out;
}
