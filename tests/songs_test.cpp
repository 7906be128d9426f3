#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "audio_files.h"
#include "run_output.h"
#include "test_util.h"

namespace {

using Args = std::vector<std::string>;

// Runs `args` in `dir` with the song cache below dir/cache (and `more`
// settings).
RunResult runIn(const TempDir& dir, const Args& args, Args more = {}) {
  RunOptions options;
  options.cwd = dir.path();
  options.environment = std::move(more);
  options.environment.push_back("XDG_CACHE_HOME=" + (dir / "cache"));
  return runBinary(args, options);
}

// `text` without its lines that start with `prefix`.
std::string without(const std::string& text, const std::string& prefix) {
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) != 0) kept += line + "\n";
  }
  return kept;
}

// The names that a dry run would copy.
std::set<std::string> wouldCopy(const std::string& out) {
  std::set<std::string> names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Would copy ", 0) != 0) continue;
    names.insert(line.substr(line.rfind('/') + 1));
  }
  return names;
}

// The playlist's entries, each with the #EXTINF line before it ("" when
// none).
std::set<std::pair<std::string, std::string>> entries(const std::string& text) {
  std::set<std::pair<std::string, std::string>> found;
  std::istringstream lines(text);
  std::string info;
  for (std::string line; std::getline(lines, line);) {
    if (line == "#EXTM3U") continue;
    if (line.rfind("#EXTINF:", 0) == 0) {
      info = line;
      continue;
    }
    found.emplace(info, line);
    info.clear();
  }
  return found;
}

}  // namespace

// Songs of 2, 2 and 5 seconds and a broken one under 4.5 seconds: every
// order plans the two short ones.
TEST(Songs, FillByPlayingTimeLeavesOutSongsOfUnknownTime) {
  TempDir dir;
  makeAudio(dir / "lib/A.flac", AudioSpec{"A", "X", "", "", 1, 0, 2});
  makeAudio(dir / "lib/B.flac", AudioSpec{"B", "Y", "", "", 2, 0, 2});
  makeAudio(dir / "lib/C.flac", AudioSpec{"C", "Z", "", "", 3, 0, 5});
  writeText(dir / "lib/broken.flac", "no audio here");
  makeDirs(dir / "out");
  const RunResult run = runIn(dir, {"-i", "lib", "-o", "out", "-s", "100", "-f",
                                    "flac", "-t", "0.075"});
  const std::string head =
      echoLines("lib", "out") + "Filter added: .flac Files\n" +
      "Playing time to fill: 0:00:04\n" + scanLines(4) +
      "Creating a plan to fill...\n"
      "1 songs of unknown playing time are not planned.\n"
      "Most efficient combination: 0.888\nCopying files...\nbMove is false\n";
  const std::string tail =
      "\nPlaying time: 0:00:04 of 0:00:04 (88.8%)\n"
      "4 files were processed, 2 files werde copied.\n";
  const std::string out = without(run.out, "This configuration uses ");
  EXPECT_TRUE(out == head + copyingLine(1, 2, "A.flac") +
                         copyingLine(2, 2, "B.flac") + tail ||
              out == head + copyingLine(1, 2, "B.flac") +
                         copyingLine(2, 2, "A.flac") + tail)
      << run.out;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(listTree(dir / "out"), (std::set<std::string>{"A.flac", "B.flac"}));
}

TEST(Songs, AtMostNSongsOrAlbumsPerArtist) {
  TempDir dir;
  // One artist three ways (letter case, blanks, album artist first), one
  // other artist, one song without any.
  makeAudio(dir / "lib/a1.flac", AudioSpec{"1", "Band", "", "", 1, 0, 1});
  makeAudio(dir / "lib/a2.flac", AudioSpec{"2", " bAND ", "", "", 2, 0, 1});
  makeAudio(dir / "lib/a3.flac", AudioSpec{"3", "Guest", "BAND", "", 3, 0, 1});
  makeAudio(dir / "lib/b1.flac", AudioSpec{"4", "Guest", "", "", 4, 0, 1});
  makeAudio(dir / "lib/n1.flac", AudioSpec{"5", "", "", "", 5, 0, 1});
  makeDirs(dir / "out");
  const Args args = {"-i", "lib",  "-o", "out", "-s", "100",
                     "-f", "flac", "-e", "1",   "-n"};
  for (int round = 0; round < 3; ++round) {
    const std::set<std::string> planned = wouldCopy(runIn(dir, args).out);
    EXPECT_EQ(planned.size(), 3u) << round;
    EXPECT_EQ(planned.count("b1.flac") + planned.count("n1.flac"), 2u) << round;
  }
  // With -a: albums. Two by "Z", one by "Q".
  makeAudio(dir / "alb/One/t1.flac", AudioSpec{"1", "", "Z", "One", 1, 0, 1});
  makeAudio(dir / "alb/One/t2.flac", AudioSpec{"2", "", "Z", "One", 2, 0, 1});
  makeAudio(dir / "alb/Two/t3.flac", AudioSpec{"3", "z", "", "Two", 1, 0, 1});
  makeAudio(dir / "alb/Three/t4.flac", AudioSpec{"4", "Q", "", "", 1, 0, 1});
  for (int round = 0; round < 3; ++round) {
    const std::set<std::string> planned =
        wouldCopy(runIn(dir, {"-i", "alb", "-o", "out", "-s", "100", "-f",
                              "flac", "-a", "-e", "1", "-n"})
                      .out);
    EXPECT_TRUE(planned ==
                    (std::set<std::string>{"t1.flac", "t2.flac", "t4.flac"}) ||
                planned == (std::set<std::string>{"t3.flac", "t4.flac"}))
        << round;
  }
}

// A run with -p writes titles and times; the cache answers for a song
// until its size or its modification time changes.
TEST(Songs, PlaylistTitlesComeFromTheCacheUntilTheSongChanges) {
  TempDir dir;
  const std::string song = dir / "lib/s1.flac";
  makeAudio(song, AudioSpec{"One", "Art", "", "", 1, 0, 1});
  makeAudio(dir / "lib/s2.flac", AudioSpec{"Two\nLines", "", "", "", 2, 0, 2});
  makeAudio(dir / "lib/s3.flac", AudioSpec{"", "Nobody", "", "", 3, 0, 1});
  struct stat before;
  ASSERT_EQ(stat(song.c_str(), &before), 0);
  int round = 0;
  auto fill = [&]() {
    const std::string out = "out" + std::to_string(++round);
    makeDirs(dir / out);
    const RunResult run = runIn(dir, {"-i", "lib", "-o", out, "-s", "100", "-f",
                                      "flac", "-p", "list.m3u8"});
    EXPECT_EQ(run.status, 0) << run.out;
    return entries(readText(dir / (out + "/list.m3u8")));
  };
  auto expected = [](const std::string& first) {
    return std::set<std::pair<std::string, std::string>>{
        {"#EXTINF:1,Art - " + first, "s1.flac"},
        {"#EXTINF:2,Two Lines", "s2.flac"},
        {"", "s3.flac"}};
  };
  EXPECT_EQ(fill(), expected("One"));
  EXPECT_TRUE(pathExists(dir / "cache/plinkard/songs.sqlite"));
  // The same size and time: the cache's tags, though the file changed.
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  makeAudio(song, AudioSpec{"Uno", "Art", "", "", 1, 0, 1});
  struct stat now;
  ASSERT_EQ(stat(song.c_str(), &now), 0);
  ASSERT_EQ(now.st_size, before.st_size);
  ASSERT_EQ(utimensat(AT_FDCWD, song.c_str(), times, 0), 0);
  EXPECT_EQ(fill(), expected("One"));
  // Another time, then another size.
  const struct timespec later[2] = {before.st_atim,
                                    {before.st_mtim.tv_sec + 1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, song.c_str(), later, 0), 0);
  EXPECT_EQ(fill(), expected("Uno"));
  makeAudio(song, AudioSpec{"Eins!", "Art", "", "", 1, 0, 1});
  ASSERT_EQ(utimensat(AT_FDCWD, song.c_str(), later, 0), 0);
  EXPECT_EQ(fill(), expected("Eins!"));
}

// Overwrites the file at `path` with zeros of its size and gives it back
// its modification time: only the cache can still tell its tags.
void zeroKeepingTime(const std::string& path) {
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  writeText(path, std::string(static_cast<size_t>(before.st_size), '\0'));
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A run that reads every tag keeps the cache entries of the songs the
// index processing took out (a target of that name exists; an exclude
// expression) and drops those of songs gone from the input folder.
TEST(Songs, CacheKeepsSongsTakenOutAndDropsGoneOnes) {
  TempDir dir;
  const std::vector<std::string> names = {"kept", "excluded", "gone", "there"};
  const auto songAt = [&](const std::string& name) {
    return dir / ("lib/" + name + "/" + name + ".flac");
  };
  for (const std::string& name : names) {
    makeAudio(songAt(name), AudioSpec{name, "A", "", "", 1, 0, 1});
  }
  makeDirs(dir / "out");
  const auto fill = [&](const Args& more) {
    Args args = {"-i", "lib",  "-o", "out", "-s", "100",
                 "-f", "flac", "-t", "1",   "-n"};
    args.insert(args.end(), more.begin(), more.end());
    RunResult run = runIn(dir, args);
    EXPECT_EQ(run.status, 0) << run.out;
    return run;
  };
  fill({});
  writeText(dir / "out/kept.flac", "");
  const std::string goneCopy = dir / "gone.flac";
  ASSERT_EQ(rename(songAt("gone").c_str(), goneCopy.c_str()), 0);
  const RunResult second = fill({"-ex", "excluded"});
  EXPECT_EQ(wouldCopy(second.out), (std::set<std::string>{"there.flac"}))
      << second.out;
  ASSERT_EQ(rename(goneCopy.c_str(), songAt("gone").c_str()), 0);
  unlink((dir / "out/kept.flac").c_str());
  for (const std::string& name : names) zeroKeepingTime(songAt(name));
  const RunResult third = fill({});
  EXPECT_EQ(wouldCopy(third.out),
            (std::set<std::string>{"kept.flac", "excluded.flac", "there.flac"}))
      << third.out;
}

// Neither a run without the options that need tags nor one with
// PLINKARD_NO_CACHE=1 makes a cache.
TEST(Songs, NoCacheWithoutTagsOrWhenTurnedOff) {
  TempDir dir;
  makeAudio(dir / "lib/s1.mp3", AudioSpec{"One", "Art", "", "", 1, 0, 1});
  makeDirs(dir / "out");
  const RunResult plain = runIn(dir, {"-i", "lib", "-o", "out", "-s", "100"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_FALSE(pathExists(dir / "cache"));
  makeDirs(dir / "out2");
  const RunResult off = runIn(
      dir, {"-i", "lib", "-o", "out2", "-s", "100", "-p", "l.m3u8", "-t", "1"},
      {"PLINKARD_NO_CACHE=1"});
  EXPECT_FALSE(pathExists(dir / "cache"));
  EXPECT_NE(off.out.find("Playing time: 0:00:01 of 0:01:00 ("),
            std::string::npos)
      << off.out;
}

// A damaged cache is set aside and one held by another process is waited
// for, then left alone: either way the run plans as it would without.
TEST(Songs, DamagedOrLockedCacheIsOneLine) {
  TempDir dir;
  makeAudio(dir / "lib/s1.flac", AudioSpec{"One", "Art", "", "", 1, 0, 3});
  makeDirs(dir / "out");
  const std::string cache = dir / "cache/plinkard/songs.sqlite";
  writeText(cache, std::string(5000, '?'));
  const Args args = {"-i", "lib",  "-o", "out", "-s", "100",
                     "-f", "flac", "-t", "1",   "-n"};
  const RunResult damaged = runIn(dir, args);
  EXPECT_NE(damaged.out.find("Processing index...\nSong cache " + cache +
                             " is damaged: set aside as " + cache +
                             ".damaged, a new one is built.\nCreating"),
            std::string::npos)
      << damaged.out;
  EXPECT_EQ(wouldCopy(damaged.out), std::set<std::string>{"s1.flac"});
  // A lock on every byte, as a writer in another process holds it.
  const int fd = open(cache.c_str(), O_RDWR);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const bool held = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0;
  const RunResult locked = runIn(dir, args);
  if (fd >= 0) close(fd);
  ASSERT_TRUE(held);
  EXPECT_NE(locked.out.find("Processing index...\nSong cache " + cache +
                            " not used: database is locked\nCreating"),
            std::string::npos)
      << locked.out;
  EXPECT_NE(locked.out.find("Playing time: 0:00:03 of 0:01:00 (5.0%)"),
            std::string::npos)
      << locked.out;
}
