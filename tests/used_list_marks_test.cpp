#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_test_helpers.h"
#include "test_util.h"

// Sizes close together are marked one per KiB value, sizes far apart
// through a sorted search; both drop the same songs, in order.
TEST(UsedListMarks, DropsTheListedSizesWhateverTheirSpread) {
  struct Case {
    std::vector<uint32_t> sizes;
    std::string list;
    std::vector<uint32_t> kept;
  };
  const Case cases[] = {
      {{5, 6, 7, 5, 9}, "5\"a\n4\"b\n10\"c\n9\"d\n", {6, 7}},
      {{5, 4000000000u, 6, 4000000000u, 7},
       "4000000000\"a\n5\"b\n8\"c\n",
       {6, 7}},
      {{0, 4294967295u}, "4294967295\"a\n1\"b\n", {0}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    writeText(dir / "used.txt", c.list);
    FillJob job;
    for (uint32_t size : c.sizes) addSong(job, size);
    job.bReadUsedList = true;
    job.usedListPath = dir / "used.txt";
    CaptureStdout capture;
    job.readUsedList();
    std::vector<uint32_t> kept;
    for (const SongEntry& song : job.songs) kept.push_back(song.sizeKiB);
    EXPECT_EQ(kept, c.kept) << "list: " << c.list;
  }
}
