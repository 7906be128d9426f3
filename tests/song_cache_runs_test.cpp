// End-to-end runs that share the song cache with another run, or keep it
// where nothing more can be written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fstream>
#include <sstream>

#include "audio_files.h"
#include "child_process.h"
#include "test_util.h"

namespace {

using Args = std::vector<std::string>;

// A library of `count` copies of one tagged song of a second, in
// dir/`folder`.
void makeLibrary(const TempDir& dir, int count,
                 const std::string& folder = "lib") {
  if (!pathExists(dir / "one.mp3")) {
    makeAudio(dir / "one.mp3", AudioSpec{"One", "Art", "", "", 1, 0, 1});
  }
  const std::string song = readText(dir / "one.mp3");
  for (int i = 0; i < count; ++i) {
    writeText(dir / (folder + "/s" + std::to_string(i) + ".mp3"), song);
  }
  makeDirs(dir / "out");
}

// How a run in `dir` with the song cache below `cacheHome` starts.
ChildOptions runOptions(const TempDir& dir, const std::string& cacheHome) {
  ChildOptions options;
  options.cwd = dir.path();
  options.environment = {"XDG_CACHE_HOME=" + cacheHome};
  return options;
}

// The same without the song cache.
ChildOptions withoutCache(const TempDir& dir) {
  ChildOptions options = runOptions(dir, dir / "alone");
  options.environment.emplace_back("PLINKARD_NO_CACHE=1");
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
  const ChildOptions alone = withoutCache(dir);
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

namespace {

// A file system of 64 KiB mounted on `path` while the object lives; not
// mounted() where that is not permitted.
class TinyFileSystem {
 public:
  explicit TinyFileSystem(const std::string& path) : path_(path) {
    makeDirs(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~TinyFileSystem() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  TinyFileSystem(const TinyFileSystem&) = delete;
  TinyFileSystem& operator=(const TinyFileSystem&) = delete;

  bool mounted() const { return mounted_; }
  // Fills what is left with one file; true when nothing is left then.
  bool fill() const {
    std::ofstream(path_ + "/filler") << std::string(1 << 20, '\0');
    struct statvfs space;
    return statvfs(path_.c_str(), &space) == 0 && space.f_bavail == 0;
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace

// A cache on a full disk: the run plans as it would without a cache, one
// line says the cache was not written, and what it held stays.
TEST(SongCacheRuns, FullDiskLeavesPlanAndCacheAlone) {
  TempDir dir;
  TinyFileSystem disk(dir / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted";
  makeLibrary(dir, 3, "old");
  makeLibrary(dir, 40, "new");
  const std::string cache = dir / "disk/plinkard/songs.sqlite";
  const Args oldSongs = {"-i",  "old", "-o", "out", "-s",
                         "100", "-t",  "1",  "-n"};
  Args allSongs = oldSongs;
  allSongs.insert(allSongs.begin(), {"-i", "new"});
  const ChildOptions alone = withoutCache(dir);
  int cacheLines = 0;
  const std::string expected =
      planOf(runChild(command(allSongs), alone), cacheLines);
  ASSERT_EQ(runChild(command(oldSongs), runOptions(dir, dir / "disk")).status,
            0);
  ASSERT_TRUE(disk.fill());

  const ChildResult full =
      runChild(command(allSongs), runOptions(dir, dir / "disk"));
  EXPECT_EQ(planOf(full, cacheLines), expected) << full.out;
  EXPECT_NE(full.out.find("Processing index...\nSong cache " + cache +
                          " not updated: database or disk is full\n"),
            std::string::npos)
      << full.out;
  EXPECT_EQ(cacheLines, 1) << full.out;

  // No cache yet, and no room to make one.
  const ChildResult none =
      runChild(command(allSongs), runOptions(dir, dir / "disk/none"));
  EXPECT_EQ(planOf(none, cacheLines), expected) << none.out;
  EXPECT_NE(
      none.out.find("Song cache " + (dir / "disk/none/plinkard/songs.sqlite") +
                    " not used: database or disk is full\n"),
      std::string::npos)
      << none.out;
  EXPECT_EQ(cacheLines, 1) << none.out;
  // What the cache held still answers.
  blankKeepingTimes(dir / "old");
  const ChildResult kept =
      runChild(command(oldSongs), runOptions(dir, dir / "disk"));
  EXPECT_NE(kept.out.find("Playing time: 0:00:03 of 0:01:00"),
            std::string::npos)
      << kept.out;
}
