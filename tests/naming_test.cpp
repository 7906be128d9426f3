#include <gtest/gtest.h>

#include <tuple>

#include "job_test_helpers.h"

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
