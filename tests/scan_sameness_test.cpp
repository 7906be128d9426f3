#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "index/folder_scan.h"
#include "index/id_table.h"
#include "job_test_helpers.h"
#include "os/signals.h"
#include "os/signals_for_tests.h"
#include "test_util.h"

namespace {

constexpr uid_t kNobody = 65534;

// A library with every case the walk decides on: nested folders, links to
// folders, files and nowhere, a loop, a hard link, the output folder inside
// it, a folder given twice, folders the scanning user cannot list or cannot
// look into, and songs and folders that vanish between a listing and the
// look at its entries (the hook of the scan removes them then).
class Library {
 public:
  explicit Library(const std::string& root) : lib_(root + "/lib") {
    for (int a = 0; a < 6; ++a) {
      for (int b = 0; b < 5; ++b) {
        const std::string album = folder(a, b);
        for (int s = 0; s < 4; ++s) {
          writeFile(
              album + "/s" + std::to_string(s) + ".mp3",
              uint64_t{5000} * a + uint64_t{1100} * b + uint64_t{300} * s);
        }
        writeFile(album + "/cover.jpg", 10);
      }
    }
    writeFile(lib_ + "/locked/in.mp3", 1);
    writeFile(lib_ + "/listed/seen.mp3", 1);
    writeFile(lib_ + "/listed/deeper/x.mp3", 1);
    writeFile(lib_ + "/out/old.mp3", 1);
    makeDirs(lib_ + "/links");
    symlink("../A1", (lib_ + "/links/toA1").c_str());
    symlink("..", (lib_ + "/A2/loop").c_str());
    symlink("nowhere", (lib_ + "/A3/dangling.mp3").c_str());
    symlink("../A0/B0/s0.mp3", (lib_ + "/A4/linked.mp3").c_str());
    link((folder(0, 1) + "/s1.mp3").c_str(), (lib_ + "/A5/hard.mp3").c_str());
    std::system(("chown -Rh 65534:65534 " + lib_).c_str());
    chmod((lib_ + "/locked").c_str(), 0);
    chmod((lib_ + "/listed").c_str(), 0444);
  }

  // Puts back what the last scan's hook removed.
  void restore() const {
    for (int a = 0; a < 6; a += 2) {
      writeFile(folder(a, 3) + "/vanish.mp3", 7);
      writeFile(folder(a, 4) + "/gone/g.mp3", 7);
    }
  }

  // Removes them right after their folder was listed.
  static void vanish(const std::string& folder) {
    unlink((folder + "/vanish.mp3").c_str());
    unlink((folder + "/gone/g.mp3").c_str());
    rmdir((folder + "/gone").c_str());
  }

  std::vector<std::string> inputs() const {
    return {lib_, lib_ + "/A1/", lib_ + "/links"};
  }
  std::string output() const { return lib_ + "/out"; }

 private:
  std::string folder(int a, int b) const {
    return lib_ + "/A" + std::to_string(a) + "/B" + std::to_string(b);
  }

  std::string lib_;
};

// All the scan printed and every field of the index it made; the scan
// calls `afterListing` too.
std::string scanWith(
    const Library& library, size_t threads,
    const std::function<void(const std::string&)>& afterListing = nullptr) {
  library.restore();
  TestJob test;
  FillJob& job = test.job;
  job.filters = {".mp3"};
  job.bVerbose = true;
  job.outputFolder.hold(library.output());
  {
    FolderScan scan(job, threads, [&](const std::string& folder) {
      Library::vanish(folder);
      if (afterListing) afterListing(folder);
    });
    for (const std::string& input : library.inputs()) {
      if (os::interruptSignal() != 0) break;
      scan.scan(input, "");
    }
  }
  std::string text = withoutProgressLines(test.text()) + "--- index\n";
  for (const SongEntry& song : job.songs) {
    text += song.sourcePath.native() + " " +
            std::to_string(song.relativeStart) + " " +
            std::to_string(song.sizeKiB) + " " +
            std::to_string(song.sizeBytes) + "\n";
  }
  return text;
}

// Scans one request at a time, then many times with threads, and returns
// what differs, or what the library failed to show.
std::string compareScans(const Library& library) {
  const std::string reference = scanWith(library, 0);
  for (const char* expected :
       {"Not found: ", "Skipping directory loop: ",
        "Skipping directory scanned already: ",
        "Skipping the output directory: ", "Skipping file indexed already: ",
        "WTF is this? ", "EXCEPTION: File exists", ": Permission denied\n"}) {
    if (reference.find(expected) == std::string::npos) {
      return std::string("the scan never printed \"") + expected + "\":\n" +
             reference;
    }
  }
  for (size_t threads :
       {size_t{1}, size_t{2}, size_t{3}, ReadAhead::kThreads}) {
    for (int run = 0; run < 6; ++run) {
      const std::string again = scanWith(library, threads);
      const auto differ = std::mismatch(again.begin(), again.end(),
                                        reference.begin(), reference.end());
      if (differ.first != again.end() || differ.second != reference.end()) {
        const size_t at = static_cast<size_t>(differ.first - again.begin());
        const size_t line = again.rfind('\n', at) + 1;
        return "with " + std::to_string(threads) + " threads, from \"" +
               again.substr(line, 200) + "\" on, where one at a time gave \"" +
               reference.substr(line, 200) + "\"";
      }
    }
  }
  return "";
}

// Runs compareScans as nobody in a child process, so that the folders
// without permissions keep it out, and returns its answer.
std::string compareScansAsNobody(const Library& library) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    std::string answer = "could not become nobody";
    if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
        setuid(kNobody) == 0) {
      answer = compareScans(library);
    }
    const ssize_t written = write(pipeFds[1], answer.data(), answer.size());
    _exit(written == static_cast<ssize_t>(answer.size()) ? 0 : 1);
  }
  close(pipeFds[1]);
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    answer.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "the child failed: " + answer;
  }
  return answer;
}

}  // namespace

// However many requests are in flight, the scan prints the same lines and
// makes the same index as one that makes one request at a time.
TEST(ScanSameness, ManyRequestsInFlightChangeNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to scan as nobody";
  TempDir dir;
  chmod(dir.path().c_str(), 0755);
  const Library library(dir.path());
  EXPECT_EQ(compareScansAsNobody(library), "");
}

// An interrupt stops the scan before the next entry: what it printed and
// indexed until then is the beginning of what a whole scan gives.
TEST(ScanSameness, AnInterruptStopsTheScanBetweenTwoEntries) {
  TempDir dir;
  const Library library(dir.path());
  const std::string whole = scanWith(library, 0);
  const size_t split = whole.find("--- index\n");
  for (int listings : {1, 5, 20}) {
    std::atomic<int> seen{0};
    const std::string cut =
        scanWith(library, ReadAhead::kThreads, [&](const std::string&) {
          if (++seen == listings) os::raiseInterrupt(SIGINT);
        });
    os::clearInterrupt();
    const size_t cutSplit = cut.find("--- index\n");
    EXPECT_LT(cutSplit, split) << "after " << listings << " listings";
    EXPECT_EQ(whole.compare(0, cutSplit, cut, 0, cutSplit), 0)
        << "after " << listings << " listings:\n"
        << cut;
    const std::string index = cut.substr(cutSplit);
    EXPECT_EQ(whole.compare(split, index.size(), index), 0)
        << "after " << listings << " listings:\n"
        << index;
  }
}

// The tables that tell the walk which folders and files it met already:
// ids that crowd one stretch of the table (the same inode on many devices,
// inodes a stretch apart) are all kept through its growth, each with its
// own value, and no id is found that was not added.
TEST(ScanSameness, IdTableKeepsEveryIdThroughGrowth) {
  IdTable<uint64_t> table;
  std::vector<os::FileId> ids;
  for (uint64_t i = 0; i < 3000; ++i) {
    ids.push_back({7, i});                // consecutive inodes
    ids.push_back({i + 100, 12345});      // one inode on many devices
    ids.push_back({7, (i + 4096) << 8});  // a stretch apart
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    const auto [value, added] = table.insert(ids[i]);
    ASSERT_TRUE(added) << "id " << i;
    *value = i;
  }
  EXPECT_EQ(ids.size(), table.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    const uint64_t* value = table.find(ids[i]);
    ASSERT_NE(nullptr, value) << "id " << i;
    EXPECT_EQ(i, *value) << "id " << i;
    EXPECT_FALSE(table.insert(ids[i]).second) << "id " << i;
  }
  EXPECT_FALSE(table.contains({8, 0}));
  EXPECT_FALSE(table.contains({7, 3000}));
  EXPECT_EQ(ids.size(), table.size());
}

// An interrupt that comes while threads list folders of thousands of
// entries stops those listings part way (they look at the stop note every
// 1,024 entries, beside the walk that stops the threads): what the scan
// printed and indexed is still the beginning of a whole scan.
TEST(ScanSameness, AnInterruptStopsListingsOfLargeFolders) {
  TempDir dir;
  const std::string lib = dir.path() + "/big";
  for (int f = 0; f < 8; ++f) {
    const std::string folder = lib + "/f" + std::to_string(f) + "/";
    makeDirs(folder);
    for (int e = 0; e < 3000; ++e) {
      const std::string name = folder + std::to_string(e);
      if (e % 500 == 0) {
        writeFile(name + ".mp3", uint64_t{3000} * f + e);
      } else {
        close(open((name + ".txt").c_str(), O_CREAT | O_WRONLY, 0644));
      }
    }
  }
  const auto scan = [&](size_t threads, int stopAt) {
    TestJob test;
    test.job.filters = {".mp3"};
    test.job.bVerbose = true;
    std::atomic<int> seen{0};
    {
      FolderScan folderScan(test.job, threads, [&](const std::string&) {
        if (++seen == stopAt) os::raiseInterrupt(SIGINT);
      });
      folderScan.scan(lib, "");
    }
    os::clearInterrupt();
    std::string text = withoutProgressLines(test.text()) + "--- index\n";
    for (const SongEntry& song : test.job.songs) {
      text += song.sourcePath.native() + " " + std::to_string(song.sizeBytes) +
              "\n";
    }
    return text;
  };
  const std::string whole = scan(0, 0);
  const size_t split = whole.find("--- index\n");
  for (int stopAt = 2; stopAt < 8; ++stopAt) {
    const std::string cut = scan(ReadAhead::kThreads, stopAt);
    const size_t cutSplit = cut.find("--- index\n");
    EXPECT_LT(cutSplit, split) << "stopped at listing " << stopAt;
    EXPECT_EQ(whole.compare(0, cutSplit, cut, 0, cutSplit), 0)
        << "stopped at listing " << stopAt << ":\n"
        << cut.substr(0, 2000);
    const std::string index = cut.substr(cutSplit);
    EXPECT_EQ(whole.compare(split, index.size(), index), 0)
        << "stopped at listing " << stopAt << ":\n"
        << index;
  }
}
