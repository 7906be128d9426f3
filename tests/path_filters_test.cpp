#include "index/path_filters.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <stdexcept>
#include <tuple>

#include "job_test_helpers.h"
#include "run_output.h"
#include "test_util.h"

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
          // An exclude expression that does not compile keeps every song out.
          {"rock", "[", {}, failures, 4},
      };
  for (const auto& [include, exclude, survivors, messages, count] : cases) {
    TestJob test;
    FillJob& job = test.job;
    for (const std::string& path : paths) job.songs.push_back(songEntry(path));
    job.includeRegex = include;
    job.excludeRegex = exclude;
    EXPECT_TRUE(job.applyRegexFilters());
    std::vector<std::string> kept;
    for (const SongEntry& entry : job.songs) {
      kept.emplace_back(entry.relativePath());
    }
    EXPECT_EQ(kept, survivors) << "-in " << include << " -ex " << exclude;
    EXPECT_EQ(test.text(), count < 0 ? ""
                                     : messages + "Filtering done, " +
                                           std::to_string(count) +
                                           " songs didn't pass.\n")
        << "-in " << include << " -ex " << exclude;
  }
}

TEST(FaultFilter, RunawayExpressionEndsWithTheFilterMessage) {
  TempDir dir;
  const std::string name = std::string(200, 'a') + ".mp3";
  writeFile(dir / "lib/" + name, 0);
  std::string why = "the match ended normally";
  try {
    boost::regex_search(name, boost::regex("(a*)*b", boost::regex::icase));
  } catch (const std::runtime_error& e) {
    why = e.what();
  }
  const RunResult run = runBinary(
      {"-i", dir / "lib/", "-o", dir.path(), "-s", "1", "-in", "(a*)*b"});
  EXPECT_EQ(run.out,
            echoLines(dir / "lib/", dir.path()) +
                "Regular Expression: File(path) must match \"(a*)*b\"\n" +
                kDefaultFilter + scanLines(1) +
                "Regular expression '(a*)*b' on couldn't be applied to "
                "string '" +
                name + "': " + why +
                "\nFiltering done, 1 songs didn't pass.\n" + nothingToCopy(1));
  EXPECT_EQ(run.status, 0);
}

// An expression that does not compile ends the run before the scan, with
// one line; a later valid one of the same option replaces it.
TEST(PathFilters, ExpressionThatDoesNotCompileStopsTheRun) {
  const std::tuple<std::vector<std::string>, std::string, std::string> cases[] =
      {
          {{"-ex", "(", "-in", "a"}, "-ex", "("},
          {{"-in", "x", "-in", "[", "-ex", "*"}, "-in", "["},
          {{"-in", "[", "-ex", "(", "-in", "a"}, "-ex", "("},
      };
  for (const auto& [expressions, option, expression] : cases) {
    TempDir dir;
    writeFile(dir / "lib/a.mp3", 0);
    std::vector<std::string> args = {"-i", dir / "lib/", "-o", dir.path(),
                                     "-s", "1",          "-m"};
    args.insert(args.end(), expressions.begin(), expressions.end());
    const RunResult run = runBinary(args);
    const std::string line =
        "Regular expression '" + expression + "' of " + option +
        " is not valid: " + compileRegexTest(expression).compileError + "\n";
    // Nothing after it: no scan.
    EXPECT_EQ(run.out.substr(run.out.find(kDefaultFilter)),
              kDefaultFilter + line);
    EXPECT_EQ(run.status, 1) << expression;
    EXPECT_TRUE(pathExists(dir / "lib/a.mp3")) << expression;
  }
}
