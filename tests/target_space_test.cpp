#include "plan/target_space.h"

#include <gtest/gtest.h>

#include <tuple>

#include "job/target_volume.h"
#include "job_test_helpers.h"
#include "plan/albums.h"
#include "test_util.h"

TEST(TargetSpace, EntryBytesByFileSystem) {
  // File system, name, bytes of its entries.
  const std::tuple<TargetVolume::Entries, std::string, uint64_t> cases[] = {
      {TargetVolume::Entries::Fat, "song.mp3", 64},              // 8 units
      {TargetVolume::Entries::Fat, "thirteen.mp3x", 64},         // 13
      {TargetVolume::Entries::Fat, "fourteen.mp3xx", 96},        // 14
      {TargetVolume::Entries::Fat, "\xf0\x9f\x98\x80.mp3", 64},  // 6
      // U+10000, whose lead byte is the lowest of four-byte characters.
      {TargetVolume::Entries::Fat, "twelve-chars\xf0\x90\x80\x80", 96},  // 14
      {TargetVolume::Entries::ExFat, "fifteen-15.mp3", 96},              // 14
      {TargetVolume::Entries::ExFat, "sixteen-16-.mp3x", 128},           // 16
      {TargetVolume::Entries::Ntfs, "song.mp3", 1056},
      {TargetVolume::Entries::Other, "song.mp3", 16},
      {TargetVolume::Entries::Other, "song.mp3x", 20},
  };
  for (const auto& [entries, name, bytes] : cases) {
    TargetVolume volume;
    volume.entries = entries;
    EXPECT_EQ(entryBytes(volume, name), bytes) << "name: " << name;
  }
}

// Two songs of one unit each, in the output folder itself and in a folder
// the choice has to create: the first song of each folder pays for its
// entries' first unit, and for the new folder's own unit; the walk takes a
// song only when it fits strictly.
TEST(TargetSpace, FirstFitCountsUnitsEntriesAndNewFolders) {
  SpaceCosts costs;
  costs.unit = 4096;
  costs.folders = {SpaceCosts::Folder{}, SpaceCosts::Folder{0, true, 64}};
  costs.songCosts = {4096, 4096, 4096, 4096};
  costs.entryBytes = {64, 64, 64, 64};
  costs.folderOf = {0, 0, 1, 1};
  // Budget, the songs taken in the order 0 1 2 3, and the bytes.
  const std::tuple<uint64_t, std::vector<uint32_t>, uint64_t> cases[] = {
      {100000, {0, 1, 2, 3}, 8192 + 4096 + 8192 + 4096},
      {12289, {0, 1}, 12288},
      {12288, {0}, 8192},
      {8192, {}, 0},
  };
  for (const auto& [budget, taken, bytes] : cases) {
    std::vector<uint32_t> choice;
    EXPECT_EQ(firstFitOnTarget({0, 1, 2, 3}, costs, budget, choice), bytes)
        << "budget " << budget;
    EXPECT_EQ(choice, taken) << "budget " << budget;
  }
  // In the other order the new folder comes first and brings its entry in
  // the output folder: that folder's first unit.
  std::vector<uint32_t> choice;
  EXPECT_EQ(firstFitOnTarget({2, 0}, costs, 100000, choice),
            4096 + 4096 + 4096 + 4096);
  costs.reserved = 4096;
  choice.clear();
  EXPECT_EQ(firstFitOnTarget({0}, costs, 100000, choice), 4096 + 8192);
}

// Songs into a folder that exists, one after another: each entry costs
// nothing while the free bytes of its allocation surely hold a run of slots
// for it, whatever runs its entries leave, and a unit otherwise; once
// outgrown, entries go into new units. No free bytes is the full folder of
// a file system that does not tell its allocation.
TEST(TargetSpace, EntriesFillTheAllocationOfAnExistingFolder) {
  struct Case {
    uint64_t freeBytes, entries;
    std::vector<uint64_t> entryBytes, costs;  // by song, in order
  };
  const uint64_t u = 128;
  const Case cases[] = {
      {0, 0, {96, 96}, {1 + u, 1 + u}},
      // Three runs, each of 64 bytes: no room for three slots, but 224 do.
      {192, 2, {96}, {1 + u}},
      {224, 2, {96, 96}, {1, 1 + u}},
      // Outgrown by the first; the second follows it into new units.
      {224, 2, {128, 64}, {1 + u, 1 + u}},
      {4032, 2, {96, 96, 96, 64}, {1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    SpaceCosts costs;
    costs.unit = u;
    costs.folders.resize(1);
    costs.folders[0].freeBytes = c.freeBytes;
    costs.folders[0].entries = c.entries;
    costs.songCosts.assign(c.entryBytes.size(), 1);
    costs.entryBytes = c.entryBytes;
    costs.folderOf.assign(c.entryBytes.size(), 0);
    TargetFill fill(costs);
    for (uint32_t i = 0; i < c.costs.size(); ++i) {
      const std::string context =
          "free " + std::to_string(c.freeBytes) + ", song " + std::to_string(i);
      EXPECT_EQ(fill.costOf(&i, &i + 1, 100000), c.costs[i]) << context;
      EXPECT_EQ(fill.take(&i, &i + 1, 100000), c.costs[i]) << context;
    }
  }
}

// Where a folder's size is its allocation, an existing folder's free bytes
// are that size less its listed entries, four unlisted ones and the entries
// the run will make there: the record's, of 96 and 128 bytes.
TEST(TargetSpace, ExistingFoldersFreeBytesFromTheirSizeAndListing) {
  TempDir dir;
  writeFile(dir / "out/Old/fourteen.mp3xx", 0);
  TestJob test;
  FillJob& job = test.job;
  job.outputDir = dir / "out";
  job.bFillAll = job.bReplace = true;
  ASSERT_FALSE(job.outputFolder.hold(job.outputDir.native()));
  job.targetVolume.entries = TargetVolume::Entries::Fat;
  job.songs.push_back(songEntry("/lib/x.mp3", 7, dir / "out/Old/b.mp3"));
  uint64_t size[2] = {};  // of "" and Old
  ASSERT_FALSE(job.outputFolder.folderSize("", size[0]));
  ASSERT_FALSE(job.outputFolder.folderSize("Old", size[1]));
  if (size[0] < 1024 || size[1] < 1024) {
    GTEST_SKIP() << "folder sizes here are no allocations: " << size[0];
  }
  // "." and "..", Old or fourteen.mp3xx, the unlisted; the record's.
  const uint64_t free[2] = {size[0] - 64 - 64 - 128 - 96 - 128,
                            size[1] - 64 - 96 - 128};
  const uint64_t entries[2] = {2 + 1 + 4 + 2, 2 + 1 + 4};
  for (const bool allocation : {false, true}) {
    job.targetVolume.folderSizeIsAllocation = allocation;
    const SpaceCosts costs = spaceCostsOf(job);
    // Without, the record's entries are not looked at: Old alone.
    ASSERT_EQ(costs.folders.size(), allocation ? 2u : 1u);
    for (size_t i = 0; i < costs.folders.size(); ++i) {
      EXPECT_EQ(costs.folders[i].freeBytes, allocation ? free[i] : 0)
          << "folder " << i << ", allocation " << allocation;
      EXPECT_EQ(costs.folders[i].entries, allocation ? entries[i] : 0)
          << "folder " << i << ", allocation " << allocation;
    }
  }
}

TEST(TargetSpace, SongsCostTheirUnitsAndTheirLineInAListOnTheTarget) {
  TempDir dir;
  makeDirs(dir / "out/Old");
  TestJob test;
  FillJob& job = test.job;
  job.outputDir = dir / "out";
  job.bFillAll = true;
  ASSERT_FALSE(job.outputFolder.hold(job.outputDir.native()));
  job.targetVolume.allocationUnit = 4096;
  job.targetVolume.entries = TargetVolume::Entries::Fat;
  const std::tuple<uint64_t, std::string, uint64_t, uint32_t> songs[] = {
      {0, "Old/a.mp3", 0, 1},  // bytes, target, what it takes, folder
      {1, "Old/b.mp3", 4096, 1},
      {4097, "New/Sub/c.mp3", 8192, 3},
      {4096, "d.mp3", 4096, 0},
  };
  for (const auto& [bytes, target, takes, folder] : songs) {
    job.songs.push_back(songEntry("/lib/x.mp3", 0, dir / "out/" + target));
    job.songs.back().sizeBytes = bytes;
  }
  SpaceCosts costs = spaceCostsOf(job);
  ASSERT_EQ(costs.folders.size(), 4u);  // Old, "", New, New/Sub
  for (size_t i = 0; i < std::size(songs); ++i) {
    EXPECT_EQ(costs.songCosts[i], std::get<2>(songs[i])) << "song " << i;
    EXPECT_EQ(costs.entryBytes[i], 64u) << "song " << i;
  }
  EXPECT_EQ(costs.folderOf, (std::vector<uint32_t>{0, 0, 3, 1}));
  EXPECT_FALSE(costs.folders[0].missing);
  EXPECT_TRUE(costs.folders[2].missing);
  EXPECT_EQ(costs.folders[3].parent, 2u);
  EXPECT_EQ(costs.reserved, 0u);

  // The list on the same volume adds each song's line and its last unit.
  job.bWriteUsedList = true;
  job.usedListPath = dir / "out/used.txt";
  costs = spaceCostsOf(job);
  EXPECT_EQ(costs.reserved, 4096u);
  EXPECT_EQ(costs.songCosts[1], 4096u + 8);  // 0"x.mp3 and its line end
}

TEST(TargetSpace, FileSystemTypesDecideNamesSizesAndListings) {
  using Listing = TargetVolume::Listing;
  // Type, names mapped, 4 GiB limit, short names, listing, a folder's size
  // is its allocation.
  const std::tuple<std::string, bool, bool, bool, Listing, bool> cases[] = {
      {"vfat", true, true, true, Listing::IgnoreCase, true},
      {"exfat", true, false, false, Listing::IgnoreCase, true},
      {"ntfs3", true, false, true, Listing::IgnoreCase, false},
      {"fuse.exfat", true, false, false, Listing::None, false},
      {"fuseblk", true, false, true, Listing::None, false},
      {"fuse.fusefat", true, true, true, Listing::None, false},
      {"fuse.sshfs", false, false, false, Listing::None, false},
      {"ext4", false, false, false, Listing::Exact, false},
      {"tmpfs", false, false, false, Listing::Exact, false},
      {"other", false, false, false, Listing::None, false},
  };
  for (const auto& [type, names, limit, shortNames, listing, allocation] :
       cases) {
    os::VolumeInfo info;
    info.type = type;
    const TargetVolume volume = describeVolume(info);
    EXPECT_EQ(volume.fatNames, names) << type;
    EXPECT_EQ(volume.fourGiBLimit, limit) << type;
    EXPECT_EQ(volume.shortNames, shortNames) << type;
    EXPECT_EQ(volume.listing, listing) << type;
    EXPECT_EQ(volume.folderSizeIsAllocation, allocation) << type;
  }
}

// Folders of FAT32 hold 65,536 entries of 32 bytes. An existing folder has
// room for what its listing (by pruning, or by the planner where pruning
// listed none) leaves free, less the entries of a list the run will create
// there and of the record and its temporary name; a created folder for all
// but its "." and "..".
TEST(TargetSpace, FolderRoomFromListingsAndTheList) {
  TempDir dir;
  writeFile(dir / "out/Old/a.mp3", 0);
  TestJob test;
  FillJob& job = test.job;
  job.outputDir = dir / "out";
  ASSERT_FALSE(job.outputFolder.hold(job.outputDir.native()));
  os::VolumeInfo vfat;
  vfat.type = "vfat";
  job.targetVolume = describeVolume(vfat);
  const uint64_t limit = uint64_t{65536} * 32;
  job.bWriteUsedList = true;
  job.usedListPath = dir / "out/used.txt";
  for (const char* target : {"a.mp3", "Old/Sub/b.mp3"}) {
    job.songs.push_back(songEntry("/lib/x.mp3", 7, dir / "out/" + target));
  }
  job.removeExistingTargets();
  ASSERT_EQ(job.listedFolderEntries.size(), 1u);
  EXPECT_EQ(job.listedFolderEntries[""].bytes, 128u);
  EXPECT_EQ(job.listedFolderEntries[""].count, 3u);
  const SpaceCosts costs = spaceCostsOf(job);
  ASSERT_EQ(costs.folders.size(), 3u);  // "", Old, Old/Sub
  EXPECT_EQ(costs.folders[0].entryRoom, limit - 128 - 64);
  EXPECT_EQ(costs.folders[1].entryRoom, limit - 128);
  EXPECT_EQ(costs.folders[2].entryRoom, limit);
  EXPECT_EQ(costs.songCosts, (std::vector<uint64_t>{7, 7}));
  job.bReplace = true;
  EXPECT_EQ(spaceCostsOf(job).folders[0].entryRoom,
            limit - 128 - 64 - 96 - 128);
}

// A fill in KiB where the output folder has room for two more entries of
// 64 bytes and a folder it creates for two: songs that would pass either
// folder's room are not taken, alone or in an album.
TEST(TargetSpace, WalksTakeNoMoreEntriesThanAFolderHolds) {
  SpaceCosts costs;
  costs.countUnits = false;
  costs.folders = {SpaceCosts::Folder{SpaceCosts::kNone, false, 0, 160},
                   SpaceCosts::Folder{0, true, 64, 192}};
  costs.songCosts = {1, 1, 1, 1, 1, 1};
  costs.entryBytes = {64, 64, 64, 64, 64, 64};
  costs.folderOf = {0, 0, 0, 1, 1, 1};
  // The order of the walk, the songs taken.
  const std::pair<std::vector<uint32_t>, std::vector<uint32_t>> cases[] = {
      {{0, 1, 2, 3, 4, 5}, {0, 1}},
      {{3, 4, 5, 0, 1, 2}, {3, 4, 0}},
  };
  for (const auto& [order, taken] : cases) {
    std::vector<uint32_t> choice;
    EXPECT_EQ(firstFitOnTarget(order, costs, 1000, choice), taken.size());
    EXPECT_EQ(choice, taken);
  }
  Albums albums;
  albums.songs = {0, 1, 2, 3, 4};
  albums.starts = {0, 3, 5};
  const AlbumWalk walk(albums, costs, 1000);
  EXPECT_EQ(walk.tooLarge(), std::vector<uint32_t>{0});
  std::vector<uint32_t> choice;
  EXPECT_EQ(walk.firstFit({0}, choice), 2u);
  EXPECT_EQ(choice, (std::vector<uint32_t>{3, 4}));
}
