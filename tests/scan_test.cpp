#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

#include "child_process.h"
#include "job_test_helpers.h"
#include "os/copy.h"
#include "os/files.h"
#include "run_output.h"
#include "test_util.h"
#include "usedlist/used_list.h"

namespace {

// What a run prints from validation on when it searches .mp3 files and
// every song is empty, so that all of them fit into 1 MB; the `copies`
// planned songs are all named `name`, so the plan's order cannot show.
std::string runOutput(const std::string& scan, size_t found,
                      const std::string& processing, size_t copies = 0,
                      const std::string& name = "") {
  std::string out =
      kDefaultFilter + scanLines(static_cast<int>(found), scan) + processing;
  if (copies == 0) return out + nothingToCopy(1);
  out += planLines("0", false);
  const std::string count = std::to_string(copies);
  for (size_t i = 1; i <= copies; ++i) {
    out += "Copying file " + std::to_string(i) + " / " + count + ": " + name +
           "\n";
  }
  return out + summaryLines("0 / 1  MB (0%", static_cast<int>(copies),
                            static_cast<int>(copies));
}

// The banner and the echo lines of `-i` for each input, then `-o`.
std::string echo(const std::vector<std::string>& inputs, const std::string& out,
                 const std::string& more = "") {
  std::string text = banner();
  for (const std::string& input : inputs) {
    text += "Added Input Dir " + input + "\n";
  }
  return text + "Output Dir is " + out + "\n" + more;
}

std::vector<std::string> withInputs(const std::vector<std::string>& inputs,
                                    std::vector<std::string> args) {
  for (auto it = inputs.rbegin(); it != inputs.rend(); ++it) {
    args.insert(args.begin(), {"-i", *it});
  }
  return args;
}

// Messages kept as text; the first flush runs `action`, once.
class FirstFlush : public std::stringbuf {
 public:
  explicit FirstFlush(std::function<void()> action)
      : action_(std::move(action)) {}

 protected:
  int sync() override {
    if (action_) std::exchange(action_, nullptr)();
    return std::stringbuf::sync();
  }

 private:
  std::function<void()> action_;
};

}  // namespace

TEST(IndexRun, TheTypedInputFolderDecidesTheRelativePath) {
  TempDir dir;
  writeFile(dir / "lib/song.mp3", 0);
  writeFile(dir / "lib/Sub/song.mp3", 0);
  const std::set<std::string> mirrored = {"song.mp3", "Sub/", "Sub/song.mp3"};
  // Input folder as typed, working folder, naming mode, what lands.
  const std::tuple<std::string, std::string, std::string, std::set<std::string>>
      cases[] = {
          {dir / "lib", "", "2", {"-song.mp3", "Sub-song.mp3"}},
          {dir / "lib/", "", "2", {"song.mp3", "Sub-song.mp3"}},
          {"lib", dir.path(), "2", {"-song.mp3", "Sub-song.mp3"}},
          {"./lib//", dir.path(), "1", mirrored},
          {dir / "lib", "", "1", mirrored},
      };
  int run = 0;
  for (const auto& [input, cwd, mode, landed] : cases) {
    const std::string out = dir / ("out" + std::to_string(++run));
    makeDirs(out);
    RunOptions options;
    options.cwd = cwd;
    const RunResult result =
        runBinary({"-i", input, "-o", out, "-s", "1", "-d", mode}, options);
    EXPECT_EQ(result.status, 0) << "input " << input;
    EXPECT_EQ(result.out,
              echo({input}, out, mode == "1" ? kMirrored : kDashed) +
                  runOutput("", 2, "", 2, "song.mp3"))
        << "input " << input;
    EXPECT_EQ(listTree(out), landed) << "input " << input << ", -d " << mode;
  }
}

// Each input folder yields at most one song, so the scan order is the
// order of the inputs. Flat names: D/x.mp3 and A/x.mp3 share a target that
// is taken, and a folder stands at the target of the last song, C/y.mp3.
// The songs left after the scan and the pruning are all copied.
TEST(IndexRun, ScanPruningAndFiltersDropWhatTheyMust) {
  TempDir dir;
  for (const char* file :
       {"e1/archive.tar.mp3", "e1/song.MP3", "e1/README", "e1/song.mp3.bak",
        "e2/.mp3", "e3/Album.mp3/inner.mp3", "D/x.mp3", "Z/z.mp3", "A/x.mp3",
        "C/y.mp3"}) {
    writeFile(dir / file, 0);
  }
  makeDirs(dir / "loop");
  ASSERT_EQ(symlink(".", (dir / "loop/up").c_str()), 0);
  makeDirs(dir / "gone");
  ASSERT_EQ(symlink("missing", (dir / "gone/song.mp3").c_str()), 0);
  writeText(dir / "out/x.mp3", "old");
  makeDirs(dir / "out/y.mp3");
  const std::vector<std::string> inputs = {
      dir / "e1", dir / "loop", dir / "e2", dir / "gone", dir / "e3/",
      dir / "D",  dir / "Z",    dir / "A",  dir / "C"};
  const RunResult run =
      runBinary(withInputs(inputs, {"-o", dir / "out", "-s", "1"}));
  EXPECT_EQ(run.status, 0);
  const std::string head =
      echo(inputs, dir / "out") + kDefaultFilter +
      scanLines(7, "Skipping directory loop: " + dir / "loop/up" +
                       "\nWTF is this? " + dir / "gone/song.mp3" + "\n") +
      planLines("0", false);
  EXPECT_EQ(run.out.substr(0, head.size()), head);
  EXPECT_NE(run.out.find(summaryLines("0 / 1  MB (0%", 4, 4)),
            std::string::npos)
      << run.out;
  EXPECT_EQ(listTree(dir / "out"),
            (std::set<std::string>{"x.mp3", "y.mp3/", "z.mp3", "inner.mp3",
                                   ".mp3", "archive.tar.mp3"}));
  EXPECT_EQ(readText(dir / "out/x.mp3"), "old");
}

TEST(IndexRun, FoldersTheUserCannotReadAreReportedAndTheRunGoesOn) {
  if (!canRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  writeFile(dir / "l1/locked/song.mp3", 0);
  writeFile(dir / "l2/Sub/song.mp3", 0);
  writeFile(dir / "l3/ok.mp3", 0);
  // A target folder that can be listed but not searched: its listing
  // cannot rule a name out.
  writeFile(dir / "l4/Listed/x.mp3", 0);
  writeFile(dir / "l5/Listed/y.mp3", 0);
  makeDirs(dir / "out/Sub");
  makeDirs(dir / "out/Listed");
  ASSERT_EQ(chmod((dir / "l1/locked").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir / "out/Sub").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir / "out/Listed").c_str(), 0444), 0);
  ASSERT_EQ(chmod((dir / "out").c_str(), 0777), 0);
  const std::vector<std::string> inputs = {dir / "l1", dir / "l2/", dir / "l3",
                                           dir / "l4/", dir / "l5/"};
  RunOptions options;
  options.unprivileged = true;
  const RunResult run = runBinary(
      withInputs(inputs, {"-o", dir / "out", "-s", "1", "-d", "1"}), options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      run.out,
      echo(inputs, dir / "out", kMirrored) +
          runOutput("Can't read directory " + dir / "l1/locked" +
                        ": Permission denied\n",
                    4,
                    "Can't check whether " + dir / "out/Sub/song.mp3" +
                        " exists: Permission denied\nCan't check whether " +
                        dir / "out/Listed/x.mp3" +
                        " exists: Permission denied\nCan't check whether " +
                        dir / "out/Listed/y.mp3" +
                        " exists: Permission denied\n",
                    1, "ok.mp3"));
  EXPECT_TRUE(pathExists(dir / "out/ok.mp3"));
}

// Where a FAT folder lists "A.mp3", the target "a.mp3" is that file: its
// listing must leave such a name to a lookup, which finds it there, for
// every letter; '@' and '[' next to the letters have no other case. A
// folder that tells case apart stands in: the lower-case twins appear once
// it was listed (at the message about a name too long to look up), so only
// a lookup finds them, and a listing that compares names exactly rules
// them out.
TEST(IndexPrune, FatListingLeavesEveryCaseTwinToALookup) {
  std::vector<std::pair<std::string, std::string>> twins = {{"@", "`"},
                                                            {"[", "{"}};
  for (char c = 'A'; c <= 'Z'; ++c) {
    twins.emplace_back(std::string(1, c),
                       std::string(1, static_cast<char>(c - 'A' + 'a')));
  }
  using Listing = TargetVolume::Listing;
  for (const Listing listing : {Listing::IgnoreCase, Listing::Exact}) {
    TempDir dir;
    const std::string out = dir / "out";
    for (const auto& [listed, target] : twins) {
      writeFile(out + "/" + listed + ".mp3", 0);
    }
    FirstFlush messages([&] {
      for (const auto& [listed, target] : twins) {
        writeFile(out + "/" + target + ".mp3", 0);
      }
    });
    std::ostream stream(&messages);
    FillJob job(stream);
    job.outputDir = out;
    ASSERT_FALSE(job.outputFolder.hold(out));
    job.targetVolume.listing = listing;
    for (const std::string& name :
         {std::string("first"), std::string(300, 'n')}) {
      job.songs.push_back(songEntry("", 0, out + "/" + name + ".mp3"));
    }
    for (const auto& [listed, target] : twins) {
      job.songs.push_back(songEntry("", 0, out + "/" + target + ".mp3"));
    }
    job.removeExistingTargets();
    std::set<std::string> kept;
    for (const SongEntry& song : job.songs) {
      kept.insert(song.targetPath.filename().string());
    }
    const bool ignoresCase = listing == Listing::IgnoreCase;
    EXPECT_EQ(kept.count("first.mp3"), 1u);
    for (const auto& [listed, target] : twins) {
      const bool twin = ignoresCase && listed != "@" && listed != "[";
      EXPECT_EQ(kept.count(target + ".mp3"), twin ? 0u : 1u)
          << "target " << target << ".mp3 beside " << listed
          << ".mp3, ignoring case: " << ignoresCase;
    }
    EXPECT_NE(messages.str().find("File name too long"), std::string::npos)
        << messages.str();
  }
}

// Scanning with the root as base stands in for scanning all of "/": the
// root keeps its one '/', so only that is cut off.
TEST(IndexScan, SizesInWholeKiBAndTheRootAsBase) {
  TempDir dir;
  const uint64_t fourTiB = uint64_t{1} << 42;
  const std::map<std::string, std::pair<uint64_t, uint32_t>> files = {
      {"a.mp3", {1023, 0}},
      {"b.mp3", {1024, 1}},
      {"huge.mp3", {fourTiB, UINT32_MAX}},
      {"wrap.mp3", {fourTiB + 5 * uint64_t{1024}, UINT32_MAX}},
  };
  for (const auto& [name, sizes] : files) {
    writeFile(dir / "lib/" + name, 0);
    if (truncate((dir / "lib/" + name).c_str(),
                 static_cast<off_t>(sizes.first)) != 0) {
      GTEST_SKIP() << "no sparse file of " << sizes.first << " bytes here";
    }
  }
  TestJob test;
  FillJob& job = test.job;
  job.filters = {".mp3"};
  job.scanDir(dir / "lib", "/");
  EXPECT_EQ(test.text(), "");
  ASSERT_EQ(job.songs.size(), files.size());
  for (const SongEntry& song : job.songs) {
    const std::string name = song.sourcePath.filename().string();
    EXPECT_EQ(song.relativePath(), (dir / "lib/" + name).substr(1));
    EXPECT_EQ(song.sizeKiB, files.at(name).second) << name;
  }
}

// Names the file system allows but text handling may trip on, and a song
// deeper than PATH_MAX with a link back up beside it. Songs are listed by
// size, so a second run must find every one of them in the list.
TEST(FaultNames, AwkwardNamesAndDepthsAreCopiedAndListed) {
  struct rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  if (saved.rlim_max < 2100) GTEST_SKIP() << "open-file limit below the depth";
  TempDir dir;
  const std::string lib = dir / "lib", out = dir / "out", list = dir / "used";
  const std::set<std::string> names = {"new\nline.mp3",
                                       "quo\"te.mp3",
                                       "back\\slash.mp3",
                                       "\xff\xfe.mp3",
                                       "-dash.mp3",
                                       "deep.mp3",
                                       std::string(251, 'n') + ".mp3"};
  uint32_t size = 0;
  for (const std::string& name : names) {
    if (name != "deep.mp3") writeFile(lib + "/" + name, ++size << 10);
  }
  // Built one level at a time from an open folder: the path is too long.
  std::string bottom = lib;
  int fd = open(lib.c_str(), O_PATH | O_DIRECTORY);
  for (int level = 0; level < 2040; ++level, bottom += "/d") {
    mkdirat(fd, "d", 0755);
    const int next = openat(fd, "d", O_PATH | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  ASSERT_GT(bottom.size(), size_t(PATH_MAX));
  close(openat(fd, "deep.mp3", O_WRONLY | O_CREAT, 0644));
  symlinkat("..", fd, "up");
  close(fd);
  makeDirs(out);
  // The usual soft limit, too low for the depth: the scan raises it.
  struct rlimit low = {std::min<rlim_t>(saved.rlim_cur, 1024), saved.rlim_max};
  setrlimit(RLIMIT_NOFILE, &low);
  const std::vector<std::string> args = {"-i", lib,  "-o", out,
                                         "-s", "10", "-l", list};
  const RunResult first = runBinary(args), second = runBinary(args);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(listTree(out), names);
  std::stringbuf text(readText(list));
  std::multiset<uint32_t> sizes;
  for (UsedListEntry entry; readUsedListEntry(text, entry);) {
    sizes.insert(entry.sizeKiB);
  }
  EXPECT_EQ(sizes, (std::multiset<uint32_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(second.out,
            echoLines(lib, out) + "Used songs list: " + list + "\n" +
                kDefaultFilter +
                scanLines(7, "Skipping directory loop: " + bottom + "/up\n") +
                "End of Used List reached. 7 Entries were read.\n"
                "Done. 7 entries were removed from the song list.\n" +
                nothingToCopy(10));
  EXPECT_FALSE(os::removeFile(bottom + "/deep.mp3"));
  std::system(("rm -rf " + lib + "/d").c_str());
}

// A and its subfolder are given again and the player lies inside A; B holds
// a hard link to one of A's songs and a link to another. Each song must be
// indexed once, by the first input that reaches it, and the player's own
// songs never.
TEST(ScanRun, EachFileOnceAndNeverThePlayersOwnSongs) {
  TempDir dir;
  const std::string a = dir / "A", b = dir / "B", player = dir / "A/player";
  writeFile(a + "/a.mp3", 1 << 10);
  writeFile(a + "/x.mp3", 2 << 10);
  writeFile(a + "/sub/s.mp3", 3 << 10);
  writeFile(player + "/old.mp3", 4 << 10);
  makeDirs(b);
  ASSERT_EQ(link((a + "/a.mp3").c_str(), (b + "/h.mp3").c_str()), 0);
  ASSERT_EQ(symlink((a + "/x.mp3").c_str(), (b + "/l.mp3").c_str()), 0);
  const std::vector<std::string> args = {"-i", a,    "-i", a + "/sub/", "-i",
                                         b,    "-i", a,    "-o",        player,
                                         "-s", "1",  "-d", "1"};
  std::vector<std::string> dryRun = args;
  dryRun.insert(dryRun.end(), {"-v", "-n"});
  const RunResult preview = runBinary(dryRun);
  for (const std::string& skipped :
       {"the output directory: " + player,
        "directory scanned already: " + a + "/sub/",
        "directory scanned already: " + a,
        "file indexed already: " + b + "/h.mp3",
        "file indexed already: " + b + "/l.mp3"}) {
    EXPECT_NE(preview.out.find("\nSkipping " + skipped + "\n"),
              std::string::npos)
        << skipped;
  }
  std::vector<std::string> move = args;
  move.emplace_back("-m");
  const RunResult run = runBinary(move);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("\n\n3 files found!\n"), std::string::npos) << run.out;
  EXPECT_EQ(listTree(player), (std::set<std::string>{"a.mp3", "old.mp3", "sub/",
                                                     "sub/s.mp3", "x.mp3"}));
  EXPECT_EQ(listTree(a),
            (std::set<std::string>{"player/", "player/a.mp3", "player/old.mp3",
                                   "player/sub/", "player/sub/s.mp3",
                                   "player/x.mp3", "sub/"}));
  EXPECT_EQ(readText(b + "/h.mp3").size(), 1u << 10);
}

// A song met as itself and through a link to it is indexed once; every
// folder's listing is closed once read, so a library of more folders than
// the open-file limit allows open at once is scanned whole.
TEST(ScanRun, EachSongOnceAndEveryListingClosedWhenRead) {
  // Folders of one song each, a link beside the first song, the limit.
  const std::tuple<int, bool, int> cases[] = {{1, true, 1024},
                                              {100, false, 40}};
  for (const auto& [folders, link, limit] : cases) {
    TempDir dir;
    for (int i = 0; i < folders; ++i) {
      writeFile(dir / "lib/" + std::to_string(i) + "/s.mp3", 0);
    }
    if (link) {
      ASSERT_EQ(symlink("s.mp3", (dir / "lib/0/l.mp3").c_str()), 0);
    }
    makeDirs(dir / "out");
    ChildOptions options;
    options.cwd = dir.path();
    const ChildResult run = runChild(
        {"/bin/sh", "-c",
         "ulimit -n " + std::to_string(limit) + " && exec \"$0\" \"$@\"",
         PLINKARD_BINARY, "-i", "lib", "-o", "out", "-s", "1", "-n"},
        options);
    EXPECT_NE(withoutProgressLines(run.out).find(
                  "\n\n" + std::to_string(folders) + " files found!\n"),
              std::string::npos)
        << run.out;
  }
}

// A listing gives every entry once with its type, however many reads the
// system needs for it (names of 1 to 250 bytes), and nothing after its end.
TEST(IndexScan, AListingGivesEveryEntryOnce) {
  for (int count : {0, 1, 5000}) {
    TempDir dir;
    std::set<std::string> made;
    for (int i = 0; i < count; ++i) {
      const std::string name =
          std::to_string(i) + std::string(static_cast<size_t>(i % 246), 'n');
      close(open((dir / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
      made.insert(name);
    }
    makeDirs(dir / "sub");
    os::FolderReader reader;
    ASSERT_FALSE(reader.open(dir.path())) << count << " entries";
    std::multiset<std::string> files;
    int folders = 0;
    const char* name = nullptr;
    os::EntryKind kind = os::EntryKind::Other;
    std::error_code error;
    while (reader.next(name, kind, error)) {
      if (kind == os::EntryKind::Directory) {
        ++folders;
      } else {
        EXPECT_EQ(kind, os::EntryKind::RegularFile) << name;
        files.insert(name);
      }
    }
    EXPECT_FALSE(error) << count << " entries: " << error.message();
    EXPECT_EQ(folders, 1) << count << " entries";
    EXPECT_EQ(files, std::multiset<std::string>(made.begin(), made.end()))
        << count << " entries";
    EXPECT_FALSE(reader.next(name, kind, error)) << count << " entries";
  }
}
