#include "usedlist/used_list.h"

#include <algorithm>

namespace {

using Traits = std::streambuf::traits_type;

bool isSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Skips white space; returns the first other character without taking it.
int skipSpace(std::streambuf& in) {
  int c = in.sgetc();
  while (c != Traits::eof() && isSpace(c)) c = in.snextc();
  return c;
}

}  // namespace

bool readUsedListEntry(std::streambuf& in, UsedListEntry& entry) {
  int c = skipSpace(in);
  // A sign is taken as a formatted read of an unsigned number takes it: a
  // minus counts down from 2^32.
  const bool negative = c == '-';
  if (c == '-' || c == '+') c = in.snextc();
  if (c < '0' || c > '9') return false;  // end of file included
  uint64_t value = 0;
  while (c >= '0' && c <= '9') {
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return false;
    c = in.snextc();
  }
  entry.sizeKiB = static_cast<uint32_t>(negative ? 0 - value : value);

  c = skipSpace(in);
  if (c == Traits::eof()) return false;
  entry.separator = Traits::to_char_type(c);
  entry.fileName.clear();
  bool cut = false;
  for (c = in.snextc(); c != Traits::eof() && c != '\n'; c = in.snextc()) {
    if (entry.fileName.size() < kMaxNameKept) {
      entry.fileName += Traits::to_char_type(c);
    } else {
      cut = true;
    }
  }
  if (c == '\n') in.sbumpc();
  if (!cut && !entry.fileName.empty() && entry.fileName.back() == '\r') {
    entry.fileName.pop_back();
  }
  return true;
}

namespace {

// Marks of a size in ListedSongs.
constexpr uint8_t kEvery = 1;  // a line with an empty name has it
constexpr uint8_t kSome = 2;   // a line with a name has it

}  // namespace

std::string usedListLine(uint32_t sizeKiB, std::string_view fileName) {
  std::string line = std::to_string(sizeKiB);
  line += '"';
  for (char c : fileName) line += c == '\n' ? '?' : c;
  line += '\n';
  return line;
}

namespace {

// The hash of a song's size and name; any two differ in most bits.
uint64_t hashOf(uint32_t sizeKiB, std::string_view name) {
  uint64_t h = 0xcbf29ce484222325ULL ^ sizeKiB;
  for (char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ULL;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return h;
}

}  // namespace

ListedSongs::ListedSongs(std::vector<uint32_t> sizes)
    : sizes_(std::move(sizes)) {
  std::sort(sizes_.begin(), sizes_.end());
  sizes_.erase(std::unique(sizes_.begin(), sizes_.end()), sizes_.end());
  marks_.assign(sizes_.size(), 0);
}

void ListedSongs::add(const UsedListEntry& entry) {
  const auto it = std::lower_bound(sizes_.begin(), sizes_.end(), entry.sizeKiB);
  if (it == sizes_.end() || *it != entry.sizeKiB) return;
  uint8_t& mark = marks_[static_cast<size_t>(it - sizes_.begin())];
  if (entry.fileName.empty()) {
    mark |= kEvery;
    return;
  }
  mark |= kSome;
  named_.emplace_back(entry.sizeKiB, entry.fileName);
  built_ = false;
}

void ListedSongs::buildTable() {
  size_t slots = 16;
  while (slots < 2 * named_.size()) slots *= 2;
  table_.assign(slots, Slot());
  for (uint32_t line = 0; line < named_.size(); ++line) {
    const auto& [size, name] = named_[line];
    if (inTable(size, name)) continue;  // the same song listed again
    const uint64_t hash = hashOf(size, name);
    size_t slot = hash & (slots - 1);
    while (table_[slot].line != 0) slot = (slot + 1) & (slots - 1);
    table_[slot] = Slot{static_cast<uint32_t>(hash >> 32), line + 1};
  }
  built_ = true;
}

bool ListedSongs::inTable(uint32_t sizeKiB, std::string_view fileName) const {
  const uint64_t hash = hashOf(sizeKiB, fileName);
  const size_t mask = table_.size() - 1;
  for (size_t slot = hash & mask; table_[slot].line != 0;
       slot = (slot + 1) & mask) {
    if (table_[slot].tag != static_cast<uint32_t>(hash >> 32)) continue;
    const auto& [size, name] = named_[table_[slot].line - 1];
    if (size == sizeKiB && name == fileName) return true;
  }
  return false;
}

bool ListedSongs::names(uint32_t sizeKiB, std::string_view fileName) {
  const auto it = std::lower_bound(sizes_.begin(), sizes_.end(), sizeKiB);
  const uint8_t mark = marks_[static_cast<size_t>(it - sizes_.begin())];
  if ((mark & kEvery) != 0) return true;
  if ((mark & kSome) == 0) return false;
  if (!built_) buildTable();
  // The name as the writer puts it in a line and the reader takes it back.
  if (fileName.find('\n') != std::string_view::npos ||
      (!fileName.empty() && fileName.back() == '\r')) {
    mapped_ = usedListLine(0, fileName);
    mapped_.erase(0, 2);  // the size and the separator
    mapped_.pop_back();   // the line end
    if (!mapped_.empty() && mapped_.back() == '\r') mapped_.pop_back();
    fileName = mapped_;
  }
  return inTable(sizeKiB, fileName);
}
