#ifndef PLINKARD_USEDLIST_USED_LIST_H_
#define PLINKARD_USEDLIST_USED_LIST_H_

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>

// The used-songs list is a text file with a line per transferred song: its
// size in KiB, a separator (written as '"') and its file name. Songs are
// known by their size alone; the name is there for people.

// How much of a line's name is kept. The names written are file names,
// far shorter; a longer line is still read to its end, so that one endless
// line cannot take all memory.
constexpr size_t kMaxNameKept = 4096;

// One line of the list as read back.
struct UsedListEntry {
  uint32_t sizeKiB = 0;
  char separator = '\0';
  std::string fileName;
};

// Reads the next entry from `in`: white space (empty lines too), a number,
// white space, any one character as the separator, then the rest of the
// line as the name (at most kMaxNameKept bytes of it), without the LF and a
// CR before it. The last line counts
// even without a line end. Returns false, leaving the rest unread, at the
// end of the list or at a line that does not begin with a number that fits
// in 32 bits.
bool readUsedListEntry(std::streambuf& in, UsedListEntry& entry);

// The line written for a song, LF included. A line end inside the name
// would split the line, so it is written as '?'.
std::string usedListLine(uint32_t sizeKiB, std::string_view fileName);

#endif  // PLINKARD_USEDLIST_USED_LIST_H_
