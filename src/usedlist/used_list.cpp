#include "usedlist/used_list.h"

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

std::string usedListLine(uint32_t sizeKiB, std::string_view fileName) {
  std::string line = std::to_string(sizeKiB);
  line += '"';
  for (char c : fileName) line += c == '\n' ? '?' : c;
  line += '\n';
  return line;
}
