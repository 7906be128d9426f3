#include "app/front_end.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "job_test_helpers.h"
#include "run_output.h"
#include "test_util.h"

namespace {

using Args = std::vector<std::string>;

// One song of exactly 1 MB and an empty output folder, so that every random
// order gives the same run.
struct Library {
  Library() {
    writeFile(dir / "lib/one.mp3", 1 << 20);
    makeDirs(dir / "out");
  }
  RunResult run(const Args& args, bool closedInput = true) const {
    return runBinary(args, RunOptions{dir.path(), "", closedInput, false});
  }
  TempDir dir;
};

std::string joined(const Args& args) {
  std::string text;
  for (const std::string& arg : args) text += " [" + arg.substr(0, 40) + "]";
  return text;
}

// Runs `args` in a fresh library with standard input closed and compares
// the whole output after the banner; a complete run has copied the song.
void expectRun(int status, const Args& args, const std::string& out) {
  Library library;
  const RunResult run = library.run(args);
  EXPECT_EQ(run.out, banner() + out) << "args:" << joined(args);
  EXPECT_EQ(run.status, status) << "args:" << joined(args);
  if (status != 0) return;
  EXPECT_EQ(listTree(library.dir / "out"), std::set<std::string>{"one.mp3"})
      << "args:" << joined(args);
}

const std::string kNoInput = "No input directory given!\n";
const std::string kBadSize = "You need to set a valid (positive) fill size!\n";
const std::string kPrompt = "Press any key to continue . . . \n";

}  // namespace

TEST(FrontEnd, NoArgumentsPrintsTheWholeUsage) {
  const RunResult run = runBinary({}, RunOptions{"", "", true, false});
  EXPECT_EQ(
      run.out,
      banner() +
          R"(Usage: Plinkard -i [Directory] -o [Directory] -s [MBytes] [OPTIONS]...

-i  [Directory]
     Specifies Input directory. You can specify multiple Directories by passing
     the -i Flag multiple times.
-o  [Directory]
     Specifies Output directory.
-s  [MBytes] | all
     The amount of music you want to copy, in Megabytes.
     Alternatively, you can specify 'all' to use all free space.

-f  [Filter]
     Specifies which filetypes you want to copy, separated by commas.
     Example: mp3,wma,ogg
     If no filter rules are given, Plinkard will only look for .mp3 files.
-in [Regular Expression]
     The file(path) must match this.
-ex [Regular Expression]
     The file(path) must NOT match this.
-d  [Format]
     Specifies which output format to use.
     0: filename.ext (just the filename; default)
     1: folder/subfolder/filename.ext (same structure as in input folder)
     2: folder-subfolder-filename.ext (foldernames added to filename)
-l  [List File]
     Songs listed in this file will not be copied.
     Songs that have been copied will be appended to that list.
-w
    Waits after execution for user to press any key.
-m
    Move files instead of copying. Use with care!
-v
    Be verbose, ie. print debug output.
-n
    Dry run: show what would be copied or moved, and change nothing.
-r
    Removes the songs that earlier runs with -r or -p copied here, then fills.
-p  [Playlist]
     Writes a playlist of the songs runs with -r or -p copied here (*.m3u8).
-a
    Whole albums: copy the songs of a folder together, in track order.
    Disc folders (CD1, Disc 2) belong to their parent folder's album.
-t  [Minutes]
     Fill at most this playing time; -s still limits the size.
-e  [Count]
     At most this many songs (with -a: albums) by one artist.
-c  [Format[:kbit/s]]
     Convert songs not in this format: mp3, m4a, opus or ogg.
-h, --help
    Print this text and exit.
--version
    Print the version line and exit.
)");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

// The first of them wins wherever it stands, a value of another option
// too, and nothing else acts: no echo, no wait, no list created.
TEST(FrontEnd, HelpAndVersionBeforeAnythingElse) {
  const std::string usage = runBinary({}, RunOptions{"", "", true, false}).out;
  const std::string version = banner().substr(0, banner().size() - 1);
  const std::pair<Args, std::string> cases[] = {
      {{"--help"}, usage},
      {{"-i", "lib", "-w", "-l", "-h"}, usage},
      {{"-in", "--help", "--version"}, usage},
      {{"--version"}, version},
      {{"-o", "out", "-s", "all", "--version", "-h"}, version},
      {{"-help"}, banner() + kNoInput},
  };
  for (const auto& [args, out] : cases) {
    Library library;
    const RunResult run = library.run(args);
    EXPECT_EQ(run.out, out) << "args:" << joined(args);
    EXPECT_EQ(run.status, out == usage || out == version ? 0 : 1)
        << "args:" << joined(args);
    EXPECT_FALSE(pathExists(library.dir / "-h")) << "args:" << joined(args);
  }
}

TEST(FrontEnd, FullRunShowsTheStoredSettings) {
  // A refused -o or -s keeps the earlier value; 12.7 is 12 MB, "abc" mode 0.
  expectRun(0,
            {"-i", "lib", "-o", "out", "-o", "no", "-s", "12.7", "-s", "0",
             "-d", "abc"},
            "Added Input Dir lib\nOutput Dir is out\n"
            "Output path no is not a valid Directory!\nOutput Dir is no\n" +
                kBadSize + "File naming: filename.ext\n" + kDefaultFilter +
                scanLines(1) + planLines("0.083", false) +
                copyingLine(1, 1, "one.mp3") +
                summaryLines("1 / 12  MB (8.3%", 1, 1));
}

TEST(FrontEnd, OptionLoopAndSetterMessages) {
  // Each value is examined as an option too: "-v" after "-i" acts.
  expectRun(1, {"-i", "no", "-i", "lib/one.mp3", "-l", "lib", "-m", "-i", "-v"},
            "Input path no is not a valid Directory!\nAdded Input Dir no\n"
            "Input path lib/one.mp3 is not a valid Directory!\n"
            "Added Input Dir lib/one.mp3\n" +
                newListLines("lib") +
                "bMove ist true\n"
                "Input path -v is not a valid Directory!\nAdded Input Dir -v\n"
                "Printing debug output!\nNo input directory given!\n");
  expectRun(1,
            {"-f", "mp3,,wma", "-f", "ogg,", "-f", ".mp3", "-f", "", "-f",
             "mp3, X,MP3", "-d", "2", "-d", "3", "-d", "-1", "-d", " 1x"},
            "Filter added: .mp3 Files\nFilter '' is not valid!\n"
            "Filter added: .wma Files\nFilter added: .ogg Files\n"
            "Filter '' is not valid!\nFilter added: ..mp3 Files\n"
            "Filter '' is not valid!\nThe filter '.mp3' was already added!\n"
            "Filter added: . X Files\nFilter added: .MP3 Files\n"
            "File naming: folder-subfolder-filename.ext\n"
            "Only modes 0, 1, 2 are supported!\n"
            "Only modes 0, 1, 2 are supported!\n"
            "File naming: folder/subfolder/filename.ext\n"
            "No input directory given!\n");
  // "-in" is the value of "-ex", then an option without a value.
  expectRun(1, {"x", "-in", "a b", "-ex", "-in"},
            "Regular Expression: File(path) must match \"a b\"\n"
            "Regular Expression: File(path) must NOT match \"-in\"\n"
            "Missing value for option -in!\n");
}

TEST(FrontEnd, ValidationReportsTheFirstMissingSetting) {
  expectRun(1, {"x", "y"}, kNoInput);
  expectRun(1, {"-o", "out", "-i", "lib"},
            "Output Dir is out\nAdded Input Dir lib\nNo size to fill given!\n");
  expectRun(1, {"-i", "lib", "-s", "1"},
            "Added Input Dir lib\nNo filters given, only search for .mp3 "
            "files.\nOutput directory  does not exist!\n");
  expectRun(1, {"-i", "lib", "-s", "all", "-o", "out"},
            "Added Input Dir lib\nGive the output directory (-o) before -s "
            "all!\nOutput Dir is out\nNo size to fill given!\n");
  // Sizes that are below 1 MB, no decimal number, or too large for 64 bits
  // of KiB.
  for (const char* size : {"0.5", "abc", "ALL", "-5", "1e300", "inf", "nan",
                           "18014398509481984", "0x10"}) {
    expectRun(1, {"-i", "lib", "-o", "out", "-s", size},
              "Added Input Dir lib\nOutput Dir is out\n" + kBadSize +
                  "No size to fill given!\n");
  }
}

TEST(FrontEnd, WaitEndsAtOnceWithoutInput) {
  for (bool closed : {true, false}) {
    Library library;
    RunResult run = library.run({"-w"}, closed);
    EXPECT_EQ(run.out, banner() + kNoInput + kPrompt) << "closed: " << closed;
    EXPECT_EQ(run.status, 1) << "closed: " << closed;
    run = library.run({"-w", "-d"}, closed);
    EXPECT_EQ(run.out, banner() + "Missing value for option -d!\n" + kPrompt)
        << "closed: " << closed;
    EXPECT_EQ(run.status, 1) << "closed: " << closed;
  }
}

TEST(FrontEnd, NoArgumentVectorEndsAbnormally) {
  const std::string huge(100000, 'x'), digits(100000, '9');
  // clang-format off
  const std::vector<Args> vectors = {
      {""}, {"", "-i", ""}, {"-s"},
      {"-i", "-o", "-s", "-f", "-in", "-ex", "-l", "-d"},
      {"-d", "-s", "-f", "-l", "-in", "-ex", "-o", "-i"},
      {"-i", huge, "-o", huge, "-l", huge, "-f", huge, "-in", huge},
      {"-s", digits, "-d", digits, "-d", "-" + digits, "-s", "-" + digits},
      {"-i", "lib", "-o", "out", "-s", "1", "-in", "(", "-ex", "*", "-w"},
      {"-i", "lib", "-o", "out", "-s", "all", "-l", huge, "-f", ",,", "-v"},
      {"-i", "lib", "-o", "out", "-s", "1", "-d", "2", "-m", "-l", "out"}};
  // clang-format on
  for (const Args& args : vectors) {
    const RunResult run = Library().run(args);
    EXPECT_TRUE(run.status == 0 || run.status == 1)
        << "status " << run.status << ", args:" << joined(args);
    EXPECT_EQ(run.out.compare(0, banner().size(), banner()), 0)
        << "args:" << joined(args);
    EXPECT_EQ(run.err, "") << "args:" << joined(args);
  }
}

TEST(OptionValues, MegabytesFromText) {
  const struct {
    const char* text;
    uint64_t expected;
  } cases[] = {
      // clang-format off
      {"12.7", 12}, {"10MB", 10}, {" 7", 7}, {"1e3", 1000}, {"0x10", 0},
      {"0.5", 0}, {"abc", 0}, {"ALL", 0}, {"-5", 0}, {"", 0}, {"-inf", 0},
      {"\t+.5e1x", 5}, {"2e", 2}, {"3E+", 3}, {"1.5.9", 1}, {"0X1P4", 0},
      {"inf", 0}, {"nan", 0}, {" 9x10", 9}, {"1e300", UINT64_MAX},
      {"18446744073709551615", UINT64_MAX},  // atof rounds it up to 2^64
      {"18014398509481982", 18014398509481982ULL}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(megabytesFromText(c.text), c.expected) << "input: " << c.text;
  }
}

TEST(OptionValues, NamingModeFromText) {
  // Beyond 32 bits the value is clamped, so no wrap-around lands on 0-2.
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {// clang-format off
      {"2", 2}, {"abc", 0}, {"", 0}, {"1abc", 1}, {" +2", 2}, {"-1", -1},
      {"4294967296", INT32_MAX}, {"-4294967296", INT32_MIN}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(namingModeFromText(c.text), c.expected) << "input: " << c.text;
  }
}

// A dry run of a move with a used-songs list: the plan is made and shown,
// and nothing on disk changes, the list and the source included.
TEST(FrontEnd, DryRunShowsThePlanAndChangesNothing) {
  TempDir dir;
  writeFile(dir / "lib/Rock/a.mp3", 1 << 20);
  writeText(dir / "used", "7\"other.mp3\n");
  makeDirs(dir / "out");
  const std::set<std::string> before = listTree(dir.path());
  const RunResult run = runBinary({"-i", "lib", "-o", "out", "-s", "2", "-d",
                                   "1", "-l", "used", "-m", "-n"},
                                  RunOptions{dir.path(), "", true, false});
  EXPECT_EQ(run.out,
            echoLines("lib", "out") + kMirrored + "Used songs list: used\n" +
                "bMove ist true\n" + kDefaultFilter + scanLines(1) +
                "End of Used List reached. 1 Entries were read.\n"
                "Done. 0 entries were removed from the song list.\n"
                "Creating a plan to fill...\nMost efficient combination: 0.5\n"
                "Dry run, nothing changes on disk:\nWould move " +
                dir / "lib/Rock/a.mp3" + " to out/Rock/a.mp3\n" +
                summaryLines("1 / 2  MB (50%", 1, 0));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(listTree(dir.path()), before);
  EXPECT_EQ(readText(dir / "used"), "7\"other.mp3\n");
}

// A flag before a value-taking option leaves that option its value: every
// flag before every option that takes one.
TEST(FrontEnd, FlagBeforeAnOptionLeavesItsValue) {
  TempDir dir;
  makeDirs(dir / "lib");
  const struct {
    const char* name;
    bool (*acted)(const FillJob&, const OptionResult&);
  } flags[] = {
      {"-a", [](const FillJob& j, const OptionResult&) { return j.bAlbums; }},
      {"-r", [](const FillJob& j, const OptionResult&) { return j.bReplace; }},
      {"-n", [](const FillJob& j, const OptionResult&) { return j.bDryRun; }},
      {"-m", [](const FillJob& j, const OptionResult&) { return j.bMove; }},
      {"-v", [](const FillJob& j, const OptionResult&) { return j.bVerbose; }},
      {"-w",
       [](const FillJob&, const OptionResult& r) { return r.waitAtExit; }},
  };
  const struct {
    const char* name;
    std::string value;
    std::string (*stored)(const FillJob&);
    std::string expected;
  } options[] = {
      {"-i", dir / "lib",
       [](const FillJob& j) {
         return j.inputDirs.empty() ? "" : j.inputDirs.back().string();
       },
       dir / "lib"},
      {"-o", dir.path(), [](const FillJob& j) { return j.outputDir.string(); },
       dir.path()},
      {"-s", "5", [](const FillJob& j) { return std::to_string(j.fillSize); },
       "5120"},
      {"-f", "ogg",
       [](const FillJob& j) {
         return j.filters.empty() ? "" : j.filters.back();
       },
       ".ogg"},
      {"-in", "x", [](const FillJob& j) { return j.includeRegex; }, "x"},
      {"-ex", "y", [](const FillJob& j) { return j.excludeRegex; }, "y"},
      {"-l", "used", [](const FillJob& j) { return j.usedListPath; }, "used"},
      {"-p", "a.m3u8", [](const FillJob& j) { return j.playlistName; },
       "a.m3u8"},
      {"-d", "2", [](const FillJob& j) { return std::to_string(j.namingMode); },
       "2"},
  };
  for (const auto& flag : flags) {
    for (const auto& option : options) {
      TestJob test;
      OptionResult result;
      const char* const argv[] = {"plinkard", flag.name, option.name,
                                  option.value.c_str()};
      readOptions(test.job, 4, argv, result);
      const std::string args =
          std::string(flag.name) + " " + option.name + " " + option.value;
      EXPECT_TRUE(flag.acted(test.job, result)) << "args: " << args;
      EXPECT_EQ(option.stored(test.job), option.expected) << "args: " << args;
      EXPECT_EQ(result.missingValueFor, "") << "args: " << args;
    }
  }
}
