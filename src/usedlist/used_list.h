#ifndef PLINKARD_USEDLIST_USED_LIST_H_
#define PLINKARD_USEDLIST_USED_LIST_H_

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The used-songs list is a text file with a line per transferred song: its
// size in KiB, a separator (written as '"') and its file name. A line names
// the songs that have both its size and its file name; a line whose name is
// empty names every song of its size.

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

// Which songs a list names, by size in KiB and file name. It keeps the
// distinct sizes of the songs it is asked about and the named lines of those
// sizes, so a list of sizes no song has costs no memory. A song's file name
// is compared as its line holds it when read back: a line end written as
// '?', a CR at its end gone.
class ListedSongs {
 public:
  // `sizes`: the size in KiB of every song that will be asked about.
  explicit ListedSongs(std::vector<uint32_t> sizes);

  // Takes in one line of the list.
  void add(const UsedListEntry& entry);

  // Whether a line taken in names the song of `sizeKiB` called `fileName`;
  // `sizeKiB` must be one of the sizes given at construction.
  bool names(uint32_t sizeKiB, std::string_view fileName);

 private:
  // A slot of the table of named lines: part of the hash of its size and
  // name, and its place in named_ plus one (0: an empty slot).
  struct Slot {
    uint32_t tag = 0;
    uint32_t line = 0;
  };
  void buildTable();
  bool inTable(uint32_t sizeKiB, std::string_view fileName) const;

  std::vector<uint32_t> sizes_;  // sorted, each once
  std::vector<uint8_t> marks_;   // per size: kEvery, kSome
  std::vector<std::pair<uint32_t, std::string>> named_;
  std::vector<Slot> table_;  // open addressing, at most half full
  bool built_ = true;
  std::string mapped_;  // a name as its line holds it, when that differs
};

#endif  // PLINKARD_USEDLIST_USED_LIST_H_
