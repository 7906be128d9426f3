#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "job_test_helpers.h"
#include "test_util.h"

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
    TestJob test;
    FillJob& job = test.job;
    job.outputDir = out;
    SongEntry entry = songEntry(source, 0, "", start);
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

// Elements over the volume's limit in bytes (11 here) are cut at a
// character and keep their extension, in every mode.
TEST(TargetNaming, ElementsOverTheNameLimitAreShortened) {
  const std::tuple<std::string, std::string, std::string, std::string> cases[] =
      {
          {"/lib/Eleven char/Ünïcöd.mp3", "/out/Ünïc.mp3",
           "/out/Eleven char/Ünïc.mp3", "/out/Eleven.mp3"},
          {"/lib/Twelve chars/a.b", "/out/a.b", "/out/Twelve char/a.b",
           "/out/Twelve ch.b"},
      };
  for (const auto& [source, flat, mirrored, dashedName] : cases) {
    TestJob test;
    test.job.outputDir = "/out";
    test.job.targetVolume.nameMax = 11;
    SongEntry entry = songEntry(source, 0, "", 5);
    const std::string expected[] = {flat, mirrored, dashedName};
    for (int32_t mode : {Flat, Mirrored, Dashed}) {
      test.job.namingMode = mode;
      test.job.makeTargetPath(entry);
      EXPECT_EQ(entry.targetPath.native(), expected[mode])
          << "source " << source << ", mode " << mode;
    }
  }
}

// On a real file system a long name is copied, and found the next time.
TEST(TargetNaming, LongNamesAreCopiedAndFoundNextTime) {
  TempDir dir;
  const std::string a(100, 'a'), b(100, 'b'), c(100, 'c');
  writeFile(dir / "lib/" + a + "/" + b + "/" + c + ".mp3", 1 << 10);
  makeDirs(dir / "out");
  const std::vector<std::string> args = {"-i", "lib/", "-o", "out",
                                         "-s", "1",    "-d", "2"};
  const RunOptions options{dir.path(), "", false, false};
  const RunResult first = runBinary(args, options);
  const RunResult second = runBinary(args, options);
  EXPECT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(
      listTree(dir / "out"),
      std::set<std::string>{a + "-" + b + "-" + c.substr(0, 49) + ".mp3"});
  EXPECT_NE(second.out.find("\n0 files were processed"), std::string::npos)
      << second.out;
}

// With -c every target takes the format's extension, whatever the source's
// was, in every mode; a name without one gets it added.
TEST(TargetNaming, ConvertedSongsTakeTheFormatsExtension) {
  const std::tuple<std::string, std::string, std::string, std::string> cases[] =
      {
          {"/lib/A.b/song.flac", "/out/song.ogg", "/out/A.b/song.ogg",
           "/out/A.b-song.ogg"},
          {"/lib/A.b/song", "/out/song.ogg", "/out/A.b/song.ogg",
           "/out/A.b-song.ogg"},
          {"/lib/x/.hidden", "/out/.hidden.ogg", "/out/x/.hidden.ogg",
           "/out/x-.hidden.ogg"},
          {"/lib/x/a.mp3.ogg", "/out/a.mp3.ogg", "/out/x/a.mp3.ogg",
           "/out/x-a.mp3.ogg"},
      };
  for (const auto& [source, flat, mirrored, dashedName] : cases) {
    TestJob test;
    test.job.outputDir = "/out";
    test.job.bConvert = true;
    test.job.convertFormat.extension = ".ogg";
    SongEntry entry = songEntry(source, 0, "", 5);
    const std::string expected[] = {flat, mirrored, dashedName};
    for (int32_t mode : {Flat, Mirrored, Dashed}) {
      test.job.namingMode = mode;
      test.job.makeTargetPath(entry);
      EXPECT_EQ(entry.targetPath.native(), expected[mode])
          << "source " << source << ", mode " << mode;
    }
  }
}
