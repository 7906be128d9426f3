#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "convert/convert_format.h"
#include "convert/song_facts.h"
#include "convert_test_songs.h"
#include "run_output.h"
#include "test_util.h"

namespace {

// The lines of `text` as a set: the plan's order is random.
std::set<std::string> linesOf(const std::string& text) {
  std::set<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.insert(text.substr(start, end - start));
  }
  return lines;
}

TEST(ConvertRun, RefusesUnknownFormatsBitratesAndMoving) {
  TempDir dir;
  makeDirs(dir / "lib");
  makeDirs(dir / "out");
  const struct Case {
    std::vector<std::string> options;
    std::string line;
  } cases[] = {
      {{"-c", "wav"}, "Unknown format 'wav'; give mp3, m4a, opus or ogg!\n"},
      {{"-c", "mp3:500"}, "The bitrate of mp3 must be 32 to 320 kbit/s!\n"},
      {{"-c", "opus:5"}, "The bitrate of opus must be 6 to 510 kbit/s!\n"},
      {{"-m", "-c", "ogg"},
       "-m and -c can't go together: the source would be removed after a "
       "lossy copy!\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-i", "lib", "-o", "out", "-s", "10"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const RunResult run = runBinary(args, RunOptions{dir.path(), "", true});
    EXPECT_EQ(run.status, 1) << c.options.back();
    const bool move = c.options.front() == "-m";
    EXPECT_EQ(run.out, echoLines("lib", "out") +
                           (move ? "bMove ist true\n" : "") + c.line)
        << c.options.back();
  }
}

// The program without its converter module beside it or installed: only a
// run with -c needs it, and that one stops at once with a reason.
TEST(ConvertRun, OnlyARunThatConvertsNeedsTheModule) {
  TempDir dir;
  makeDirs(dir / "lib");
  makeDirs(dir / "out");
  writeFile(dir / "lib/song.mp3", 2000);
  writeText(dir / "alone/plinkard", readText(PLINKARD_BINARY));
  ASSERT_EQ(chmod((dir / "alone/plinkard").c_str(), 0755), 0);
  RunOptions options{dir.path(), "", true};
  options.program = dir / "alone/plinkard";
  const std::vector<std::string> args = {"-i", "lib", "-o", "out", "-s", "1"};

  std::vector<std::string> converting = args;
  converting.insert(converting.end(), {"-c", "mp3"});
  const RunResult refused = runBinary(converting, options);
  EXPECT_EQ(refused.status, 1) << refused.out;
  const std::string reason = "Can't load the converter: " + dir.path() +
                             "/alone/plinkard-convert.so: cannot open shared";
  EXPECT_EQ(refused.out.rfind(echoLines("lib", "out") + reason, 0), 0u)
      << refused.out;
  EXPECT_EQ(listTree(dir / "out"), std::set<std::string>{});

  const RunResult copied = runBinary(args, options);
  EXPECT_EQ(copied.status, 0) << copied.out;
  EXPECT_EQ(listTree(dir / "out"), std::set<std::string>{"song.mp3"});
}

// A library of a FLAC song in a folder, an MP3 song named .flac and a file
// that is no song, filled with -c mp3:64.
class ConvertRunTest : public testing::Test {
 protected:
  void SetUp() override {
    makeDirs(dir / "lib/Album");
    makeDirs(dir / "out");
    writeText(dir / "lib/Album/tagged.flac",
              readText(testSongs().path("tagged.flac")));
    writeText(dir / "lib/named.flac",
              readText(testSongs().path("mp3-named.flac")));
    writeText(dir / "lib/garbage.flac",
              readText(testSongs().path("garbage.flac")));
  }
  RunResult run(const std::vector<std::string>& more) {
    std::vector<std::string> args = {"-i", "lib",  "-o",   "out", "-s",
                                     "10", "-f",   "flac", "-c",  "mp3:64",
                                     "-l", "used", "-d",   "1"};
    args.insert(args.end(), more.begin(), more.end());
    return runBinary(args, RunOptions{dir.path(), "", true});
  }
  TempDir dir;
};

TEST_F(ConvertRunTest, ConvertsCopiesSongsInTheFormatAndNamesFailures) {
  const RunResult result = run({});
  EXPECT_EQ(result.status, 2) << result.out;
  const std::set<std::string> lines = linesOf(result.out);
  const std::string lib = dir / "lib";
  const std::string expected[] = {
      "Converting songs to mp3 at 64 kbit/s",
      "File '" + lib +
          "/garbage.flac' could not be converted: Can't decode: Stream not "
          "found",
      "3 files were processed, 2 files werde copied."};
  for (const std::string& line : expected) {
    EXPECT_EQ(lines.count(line), 1u) << line << "\nin:\n" << result.out;
  }
  // A line each: the FLAC song and the file that is no song converted,
  // the MP3 song copied.
  const std::pair<std::string, size_t> progress[] = {{"Converting file ", 2},
                                                     {"Copying file ", 1}};
  for (const auto& [prefix, expectedCount] : progress) {
    size_t count = 0;
    for (const std::string& line : lines) count += line.rfind(prefix, 0) == 0;
    EXPECT_EQ(count, expectedCount) << prefix;
  }
  EXPECT_EQ(listTree(dir / "out"),
            (std::set<std::string>{"Album/", "Album/tagged.mp3", "named.mp3"}));
  EXPECT_EQ(readText(dir / "out/named.mp3"), readText(lib + "/named.flac"));
  ConvertFormat mp3;
  SongFacts facts;
  ASSERT_EQ(readSongFacts(dir / "out/Album/tagged.mp3", mp3, facts), "");
  EXPECT_EQ(facts.bitRate, 64000);
  EXPECT_EQ(facts.tags["title"], "Song Title");
  // The used list names the sources, as for copies.
  const std::set<std::string> used = linesOf(readText(dir / "used"));
  EXPECT_EQ(used.size(), 2u);
  for (const std::string& line : used) {
    EXPECT_NE(line.find(".flac"), std::string::npos) << line;
  }
}

TEST_F(ConvertRunTest, DryRunSaysWhatItWouldConvert) {
  const RunResult result = run({"-n"});
  EXPECT_EQ(result.status, 0);
  const std::set<std::string> lines = linesOf(result.out);
  const std::string lib = dir / "lib";
  const std::string expected[] = {
      "Would convert " + lib + "/Album/tagged.flac to out/Album/tagged.mp3",
      "Would copy " + lib + "/named.flac to out/named.mp3",
      "Would convert " + lib + "/garbage.flac to out/garbage.mp3"};
  for (const std::string& line : expected) {
    EXPECT_EQ(lines.count(line), 1u) << line << "\nin:\n" << result.out;
  }
  EXPECT_EQ(listTree(dir / "out"), std::set<std::string>{});
}

TEST_F(ConvertRunTest, LeftoversOfAKilledRunGoFromTheFoldersItWritesInto) {
  writeText(dir / "out/Album/.plinkard-convert.999999999.0.tmp", "partial");
  run({});
  EXPECT_FALSE(pathExists(dir / "out/Album/.plinkard-convert.999999999.0.tmp"));
}

}  // namespace

// Songs to convert are planned by their converted size: ten seconds of
// WAV (1.7 MB) fill a megabyte once they are MP3s of a few KiB each.
TEST(ConvertPlan, SongsArePlannedByTheirConvertedSize) {
  TempDir dir;
  makeDirs(dir / "lib");
  for (int i = 0; i < 10; ++i) {
    makeSong(dir / ("lib/song" + std::to_string(i) + ".wav"), "sine", 1.0,
             44100, 2);
  }
  makeDirs(dir / "out");
  RunOptions options;
  options.cwd = dir.path();
  options.closedInput = true;
  const RunResult run = runBinary(
      {"-i", "lib", "-o", "out", "-s", "1", "-f", "wav", "-c", "mp3:128"},
      options);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Converting file 10 / 10: "), std::string::npos)
      << run.out;
  EXPECT_EQ(listTree(dir / "out").size(), 10u);
}

// Forty seconds of Opus at 6 kbit/s in Matroska, which the tags unit does
// not read, is planned with its own 39 KB; as MP3 at 320 kbit/s it takes
// 1.6 MB, more than -s 1 holds. It is not written, and that is no failure;
// the MP3 song, copied as it is, lands whichever goes first.
TEST(ConvertRoom, SongLargerThanTheRoomLeftIsHeldBack) {
  TempDir dir;
  makeDirs(dir / "lib");
  makeDirs(dir / "out");
  makeSong(dir / "lib/low.mka", "sine", 40, 48000, 1,
           {"-c:a", "libopus", "-b:a", "6k"});
  makeSong(dir / "lib/small.mp3", "sine", 1, 44100, 1, {"-b:a", "32k"});
  RunOptions options;
  options.cwd = dir.path();
  options.closedInput = true;
  const RunResult run = runBinary({"-i", "lib", "-o", "out", "-s", "1", "-f",
                                   "mka,mp3", "-c", "mp3:320", "-l", "used"},
                                  options);
  EXPECT_EQ(run.status, 0) << run.out;
  // The room left depends on whether the MP3 song went first.
  const std::string prefix =
      "File '" + (dir / "lib/low.mka") + "' not written: converted it takes ";
  const size_t at = run.out.find(prefix);
  ASSERT_NE(at, std::string::npos) << run.out;
  const uint64_t bytes = std::stoull(run.out.substr(at + prefix.size()));
  EXPECT_GT(bytes, 1u << 20);
  const std::set<std::string> lines = linesOf(run.out);
  const std::string start =
      prefix + std::to_string(bytes) + " bytes, more than the ";
  const uint64_t small = fileSize(dir / "lib/small.mp3");
  EXPECT_EQ(lines.count(start + std::to_string(1 << 20) +
                        " bytes left of the fill size") +
                lines.count(start + std::to_string((1 << 20) - small) +
                            " bytes left of the fill size"),
            1u)
      << run.out;
  EXPECT_EQ(listTree(dir / "out"), std::set<std::string>{"small.mp3"});
  EXPECT_EQ(
      readText(dir / "used"),
      std::to_string(fileSize(dir / "lib/small.mp3") >> 10) + "\"small.mp3\n");
}

// A song in the format already is planned with its own size whatever its
// name: the MP3 named .flac takes its own KiB of the plan.
TEST(ConvertPlan, SongInTheFormatIsPlannedWithItsOwnSize) {
  TempDir dir;
  makeDirs(dir / "lib");
  makeDirs(dir / "out");
  writeText(dir / "lib/named.flac",
            readText(testSongs().path("mp3-named.flac")));
  RunOptions options;
  options.cwd = dir.path();
  options.closedInput = true;
  const RunResult run = runBinary(
      {"-i", "lib", "-o", "out", "-s", "1", "-f", "flac", "-c", "mp3", "-n"},
      options);
  EXPECT_EQ(run.status, 0) << run.out;
  std::ostringstream summary;
  summary << "This configuration uses "
          << static_cast<float>(
                 static_cast<double>(
                     (fileSize(dir / "lib/named.flac") + 1023) >> 10) /
                 1024.0)
          << " / 1  MB";
  EXPECT_NE(run.out.find(summary.str()), std::string::npos)
      << summary.str() << "\nin:\n"
      << run.out;
}

// SIGINT while songs are converted: the run stops within a second, with
// 128 + 2, leaving no temporary file and only whole songs, each listed.
TEST(ConvertInterrupt, SignalStopsAtOnceAndLeavesOnlyWholeSongs) {
  TempDir dir;
  makeDirs(dir / "lib");
  makeDirs(dir / "out");
  const int kSongs = 8;
  for (int i = 0; i < kSongs; ++i) {
    makeSong(dir / ("lib/song" + std::to_string(i) + ".wav"), "sine", 15, 44100,
             2);
  }
  const int logFd = open((dir / "log").c_str(), O_WRONLY | O_CREAT, 0644);
  ChildOptions options;
  options.cwd = dir.path();
  options.capture = false;
  options.outputFd = logFd;
  options.defaultSignals = true;
  options.environment = {"PLINKARD_NO_CACHE=1"};
  ChildProcess child({PLINKARD_BINARY, "-i", "lib", "-o", "out", "-s", "100",
                      "-f", "wav", "-c", "mp3", "-l", "used"},
                     options);
  close(logFd);
  // Once a song has landed and others are being converted.
  auto busy = [&] {
    bool landed = false, pending = false;
    for (const std::string& name : listTree(dir / "out")) {
      landed |= name.find(".mp3") + 4 == name.size() && name[0] != '.';
      pending |= name.rfind(".plinkard-convert.", 0) == 0;
    }
    return landed && pending;
  };
  while (!busy() && child.running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto signalled = std::chrono::steady_clock::now();
  kill(child.pid(), SIGINT);
  const ChildResult ended = child.wait();
  const std::chrono::duration<double> stopping =
      std::chrono::steady_clock::now() - signalled;
  EXPECT_EQ(ended.status, 128 + SIGINT);
  EXPECT_LT(stopping.count(), 1.0);
  const std::string log = readText(dir / "log");
  EXPECT_NE(log.find("\nInterrupted!\n"), std::string::npos) << log;
  std::set<std::string> listed;
  const std::set<std::string> landed = listTree(dir / "out");
  EXPECT_GT(landed.size(), 0u);
  EXPECT_LT(landed.size(), static_cast<size_t>(kSongs)) << log;
  for (const std::string& name : landed) {
    ASSERT_EQ(name.find(".mp3") + 4, name.size()) << name;
    SongFacts facts;
    EXPECT_EQ(readSongFacts(dir / ("out/" + name), ConvertFormat(), facts), "")
        << name;
    EXPECT_NEAR(static_cast<double>(facts.durationMs), 15000, 150) << name;
    const std::string source = name.substr(0, name.size() - 4) + ".wav";
    listed.insert(std::to_string(fileSize(dir / ("lib/" + source)) >> 10) +
                  "\"" + source);
  }
  EXPECT_EQ(linesOf(readText(dir / "used")), listed);
}
