#include <gtest/gtest.h>

#include <tuple>

#include "index/filters.h"
#include "index/progress.h"
#include "job_test_helpers.h"

namespace {

// A song whose path below its scan base starts `relativeStart` characters
// into `source`.
SongEntry song(const std::string& source, uint32_t relativeStart = 0) {
  return SongEntry{source, relativeStart, 0, {}};
}

int64_t fakeNow = 0;
int64_t fakeClock() { return fakeNow; }

}  // namespace

TEST(TargetNaming, EveryModeForEveryKindOfRelativePath) {
  // Output folder, source, where its relative path starts, and the target
  // under Flat, Mirrored and Dashed.
  const std::tuple<std::string, std::string, uint32_t, std::string, std::string,
                   std::string>
      cases[] = {
          {"/out", "/lib/Rock/AC/song.mp3", 5, "/out/song.mp3",
           "/out/Rock/AC/song.mp3", "/out/Rock-AC-song.mp3"},
          {"/out", "/lib/top.mp3", 4, "/out/top.mp3", "/out/top.mp3",
           "/out/-top.mp3"},
          {"/out/", "/lib/top.mp3", 4, "/out/top.mp3", "/out//top.mp3",
           "/out/-top.mp3"},
          {"out", "/lib/A-B/x\\y.mp3", 5, "out/x\\y.mp3", "out/A-B/x\\y.mp3",
           "out/A-B-x\\y.mp3"},
      };
  for (const auto& [out, source, start, flat, mirrored, dashedName] : cases) {
    FillJob job;
    job.outputDir = out;
    SongEntry entry = song(source, start);
    const std::string expected[] = {flat, mirrored, dashedName};
    for (int32_t mode : {Flat, Mirrored, Dashed}) {
      job.namingMode = mode;
      job.makeTargetPath(entry);
      EXPECT_EQ(entry.targetPath.native(), expected[mode])
          << "output " << out << ", relative " << entry.relativePath()
          << ", mode " << mode;
    }
  }
}

TEST(PathFilters, KeepReversedSurvivorsAndReportBadExpressions) {
  const std::vector<std::string> paths = {"/Rock/a.mp3", "Pop/b.mp3",
                                          "Rock/c.mp3", "Pop/rock.mp3"};
  // An exclude expression that does not compile is reported for each song
  // that passed the include test, from the last song to the first.
  const std::vector<std::string> passed = {"Pop/rock.mp3", "Rock/c.mp3",
                                           "/Rock/a.mp3"};
  std::string failures;
  for (const std::string& text : passed) {
    failures += "Regular expression '[' on couldn't be applied to string '" +
                text + "': " + compileRegexTest("[").compileError + "\n";
  }
  // Include, exclude, the survivors in order, the failure messages, and the
  // count on the closing line (-1: no closing line).
  const std::tuple<std::string, std::string, std::vector<std::string>,
                   std::string, int>
      cases[] = {
          {"", "", paths, "", -1},
          {"ROCK", "", passed, "", 1},
          {"^rock", "", {"Rock/c.mp3"}, "", 3},
          {"rock", "^pop/", {"Rock/c.mp3", "/Rock/a.mp3"}, "", 2},
          {"", "b\\.MP3$", passed, "", 1},
          {"rock", "[", passed, failures, 1},
      };
  for (const auto& [include, exclude, survivors, messages, count] : cases) {
    FillJob job;
    for (const std::string& path : paths) job.songs.push_back(song(path));
    job.includeRegex = include;
    job.excludeRegex = exclude;
    CaptureStdout out;
    EXPECT_TRUE(job.applyRegexFilters());
    std::vector<std::string> kept;
    for (const SongEntry& entry : job.songs) {
      kept.emplace_back(entry.relativePath());
    }
    EXPECT_EQ(kept, survivors) << "-in " << include << " -ex " << exclude;
    EXPECT_EQ(out.text(), count < 0 ? ""
                                    : messages + "Filtering done, " +
                                          std::to_string(count) +
                                          " songs didn't pass.\n")
        << "-in " << include << " -ex " << exclude;
  }
}

TEST(ProgressThrottle, OneLineOnlyAfterMoreThanHalfASecond) {
  fakeNow = 1000;
  ProgressThrottle throttle(fakeClock);
  throttle.start();
  const std::tuple<int64_t, bool> steps[] = {
      {1200, false}, {1500, false}, {1501, true}, {1501, false},
      {2001, false}, {2002, true},  {2600, true},
  };
  for (const auto& [now, due] : steps) {
    fakeNow = now;
    EXPECT_EQ(throttle.due(), due) << "at " << now << " ms";
    // Every folder of the scan starts the throttle; only the first counts.
    throttle.start();
  }
}
