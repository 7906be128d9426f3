#include "index/fat_names.h"

#include <cstdint>

namespace {

constexpr size_t kMaxUnits = 255;

bool forbidden(unsigned char c) {
  switch (c) {
    case '"':
    case '*':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
      return true;
    default:
      return c < 0x20 || c == 0x7F;
  }
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The bytes of the character at the start of `text` (a stray byte is one)
// and the UTF-16 units it takes.
size_t step(std::string_view text, size_t& unitsTaken) {
  const size_t length = utf8Length(text);
  unitsTaken = length == 4 ? 2 : 1;
  return length == 0 ? 1 : length;
}

size_t units(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0, taken = 0; i < text.size(); count += taken) {
    i += step(text.substr(i), taken);
  }
  return count;
}

void dropTrailingDotsAndBlanks(std::string& name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    name.pop_back();
  }
}

// `stem` cut at a code point so that it takes at most `budget` units.
std::string cut(std::string_view stem, size_t budget) {
  size_t end = 0;
  size_t used = 0;
  while (end < stem.size()) {
    size_t taken = 0;
    const size_t length = step(stem.substr(end), taken);
    if (used + taken > budget) break;
    used += taken;
    end += length;
  }
  return std::string(stem.substr(0, end));
}

// A valid name of more than 255 units, shortened before its extension.
std::string shortened(const std::string& name) {
  const size_t dot = name.rfind('.');
  std::string extension =
      dot != std::string::npos && dot > 0 ? name.substr(dot) : "";
  if (units(extension) >= kMaxUnits) extension.clear();
  const std::string_view whole = name;
  std::string stem = cut(whole.substr(0, name.size() - extension.size()),
                         kMaxUnits - units(extension));
  dropTrailingDotsAndBlanks(stem);
  if (stem.empty()) stem = "_";
  return stem + extension;
}

}  // namespace

size_t utf8Length(std::string_view text) {
  if (text.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(text[0]);
  if (c < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  const unsigned char second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!continuation(static_cast<unsigned char>(text[i]))) return 0;
  }
  return length;
}

std::string fatName(std::string_view name) {
  std::string mapped;
  mapped.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t length = utf8Length(name.substr(i));
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (length == 0 || (length == 1 && forbidden(c))) {
      mapped += '_';
      ++i;
    } else {
      mapped.append(name, i, length);
      i += length;
    }
  }
  dropTrailingDotsAndBlanks(mapped);
  if (mapped.empty()) return "_";
  return units(mapped) > kMaxUnits ? shortened(mapped) : mapped;
}

std::string fatPath(std::string_view path) {
  std::string mapped;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) mapped += fatName(path.substr(start, end - start));
    if (end < path.size()) mapped += '/';
    start = end + 1;
  }
  return mapped;
}
