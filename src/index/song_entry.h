#ifndef PLINKARD_INDEX_SONG_ENTRY_H_
#define PLINKARD_INDEX_SONG_ENTRY_H_

#include <boost/filesystem/path.hpp>
#include <cstdint>
#include <string_view>
#include <vector>

// One audio file found by the scan.
struct SongEntry {
  // The file's full path as the listing gave it: the absolute folder joined
  // with the file name.
  boost::filesystem::path sourcePath;
  // The path below the scan base is the tail of `sourcePath`'s text, so it is
  // kept as the position where that tail starts rather than as a second copy
  // of the same characters.
  uint32_t relativeStart = 0;
  // The file size in whole KiB, rounded down.
  uint32_t sizeKiB = 0;
  // Where the song goes in the output folder; empty until target naming.
  boost::filesystem::path targetPath;
  // The file size in bytes, for what the song takes on the target.
  uint64_t sizeBytes = 0;
  // When the file was last changed as the scan found it, in nanoseconds
  // since 1970: with the size, what the song cache knows a song by, so
  // that the tags stage need not look at the file again.
  int64_t modifiedNs = 0;

  // The path below the scan base, e.g. "Rock/song.mp3" or "/top.mp3".
  std::string_view relativePath() const {
    const std::string_view text = sourcePath.native();
    return text.substr(relativeStart);
  }
};

// The candidate songs in scan order.
using SongIndex = std::vector<SongEntry>;

// How a song's name in the output folder is formed.
enum NamingMode : int32_t {
  Flat = 0,      // the file name alone
  Mirrored = 1,  // the path below the input folder
  Dashed = 2,    // that path with every '/' turned into '-'
};

#endif  // PLINKARD_INDEX_SONG_ENTRY_H_
