// Feeds arbitrary bytes to the used-songs list reader, the way a run reads a
// list, and writes every entry it finds back as a line: that line must read
// back as an entry of the same size, and must name the song of that size
// and name.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "usedlist/used_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::stringbuf in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<UsedListEntry> songs;
  for (UsedListEntry entry; readUsedListEntry(in, entry);) {
    songs.push_back(entry);
  }
  std::vector<uint32_t> sizes;
  for (const UsedListEntry& song : songs) sizes.push_back(song.sizeKiB);
  ListedSongs listed(sizes);
  for (const UsedListEntry& song : songs) {
    std::stringbuf line(usedListLine(song.sizeKiB, song.fileName));
    UsedListEntry again;
    if (!readUsedListEntry(line, again) || again.sizeKiB != song.sizeKiB ||
        again.separator != '"') {
      __builtin_trap();
    }
    listed.add(again);
  }
  for (const UsedListEntry& song : songs) {
    if (song.fileName.size() < kMaxNameKept &&
        !listed.names(song.sizeKiB, song.fileName)) {
      __builtin_trap();
    }
  }
  return 0;
}
