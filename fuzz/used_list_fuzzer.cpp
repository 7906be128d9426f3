// Feeds arbitrary bytes to the used-songs list reader, the way a run reads a
// list, and writes every entry it finds back as a line: that line must read
// back as an entry of the same size.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "usedlist/used_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::stringbuf in(std::string(reinterpret_cast<const char*>(data), size));
  UsedListEntry entry;
  while (readUsedListEntry(in, entry)) {
    std::stringbuf line(usedListLine(entry.sizeKiB, entry.fileName));
    UsedListEntry again;
    if (!readUsedListEntry(line, again) || again.sizeKiB != entry.sizeKiB ||
        again.separator != '"') {
      __builtin_trap();
    }
  }
  return 0;
}
