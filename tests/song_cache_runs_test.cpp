// End-to-end runs that share the song cache with another run, or keep it
// where nothing more can be written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "audio_files.h"
#include "child_process.h"
#include "test_util.h"

namespace {

using Args = std::vector<std::string>;

// A library of `count` copies of one tagged song of a second, in dir/lib.
void makeLibrary(const TempDir& dir, int count) {
  makeAudio(dir / "one.mp3", AudioSpec{"One", "Art", "", "", 1, 0, 1});
  const std::string song = readText(dir / "one.mp3");
  for (int i = 0; i < count; ++i) {
    writeText(dir / ("lib/s" + std::to_string(i) + ".mp3"), song);
  }
  makeDirs(dir / "out");
}

// A dry run of `args` in `dir` with the song cache below `cacheHome`,
// started now.
ChildOptions runOptions(const TempDir& dir, const std::string& cacheHome) {
  ChildOptions options;
  options.cwd = dir.path();
  options.environment = {"XDG_CACHE_HOME=" + cacheHome};
  return options;
}

Args command(const Args& args) {
  Args argv = {PLINKARD_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// What a run planned, whichever songs it drew (they are alike): its
// output without the song cache's lines and with the count of its "Would
// copy" lines in their place. `cacheLines` counts the cache's lines.
std::string planOf(const ChildResult& run, int& cacheLines) {
  std::istringstream lines(withoutProgressLines(run.out));
  std::string plan;
  int copies = 0;
  cacheLines = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Song cache ", 0) == 0) {
      ++cacheLines;
    } else if (line.rfind("Would copy ", 0) == 0) {
      ++copies;
    } else {
      plan += line + "\n";
    }
  }
  return plan + std::to_string(copies) + " copies, status " +
         std::to_string(run.status) + "\n";
}

// Overwrites every file below `dir` with zeros of its size, keeping its
// modification time: only the cache still knows its tags.
void blankKeepingTimes(const std::string& dir) {
  for (const std::string& name : listTree(dir)) {
    const std::string path = dir + "/" + name;
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0) << path;
    writeFile(path, static_cast<uint64_t>(before.st_size));
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  }
}

}  // namespace

// Two runs over one library started together with one empty cache: each
// plans as a run alone does (at most one line says it went without the
// cache), and the cache they leave answers a third run for every song.
TEST(SongCacheRuns, TwoRunsAtOnceShareTheCache) {
  TempDir dir;
  makeLibrary(dir, 3000);
  const Args args = {"-i", "lib", "-o", "out", "-s", "100", "-t", "0.5", "-n"};
  int cacheLines = 0;
  ChildOptions alone = runOptions(dir, dir / "alone");
  alone.environment.push_back("PLINKARD_NO_CACHE=1");
  const std::string expected =
      planOf(runChild(command(args), alone), cacheLines);
  ASSERT_NE(expected.find("Playing time: 0:00:2"), std::string::npos)
      << expected;

  ChildProcess first(command(args), runOptions(dir, dir / "cache"));
  ChildProcess second(command(args), runOptions(dir, dir / "cache"));
  const bool overlapped = first.running() && second.running();
  const ChildResult runs[2] = {first.wait(), second.wait()};
  ASSERT_TRUE(overlapped) << "the runs did not overlap";
  int withoutCache = 0;
  for (const ChildResult& run : runs) {
    EXPECT_EQ(planOf(run, cacheLines), expected) << run.out;
    EXPECT_LE(cacheLines, 1) << run.out;
    withoutCache += cacheLines;
  }
  EXPECT_LE(withoutCache, 1) << runs[0].out << runs[1].out;

  blankKeepingTimes(dir / "lib");
  const ChildResult third =
      runChild(command(args), runOptions(dir, dir / "cache"));
  EXPECT_EQ(planOf(third, cacheLines), expected) << third.out;
  EXPECT_EQ(cacheLines, 0) << third.out;
}
