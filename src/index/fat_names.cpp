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

// How the length of a name is counted against its limit.
enum class Measure { Utf16Units, Bytes };

// The bytes of the character at the start of `text` (a stray byte is one);
// `counted` gets what it counts under `measure`.
size_t step(std::string_view text, Measure measure, size_t& counted) {
  const size_t length = utf8Length(text);
  const size_t bytes = length == 0 ? 1 : length;
  counted = measure == Measure::Bytes ? bytes : length == 4 ? 2 : 1;
  return bytes;
}

size_t lengthOf(std::string_view text, Measure measure) {
  size_t count = 0;
  for (size_t i = 0, counted = 0; i < text.size(); count += counted) {
    i += step(text.substr(i), measure, counted);
  }
  return count;
}

void dropTrailingDotsAndBlanks(std::string& name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    name.pop_back();
  }
}

// `stem` cut at a character so that it counts at most `budget`.
std::string cut(std::string_view stem, size_t budget, Measure measure) {
  size_t end = 0;
  size_t used = 0;
  while (end < stem.size()) {
    size_t counted = 0;
    const size_t length = step(stem.substr(end), measure, counted);
    if (used + counted > budget) break;
    used += counted;
    end += length;
  }
  return std::string(stem.substr(0, end));
}

// A name that counts more than `limit`, shortened before its extension.
std::string shortened(const std::string& name, size_t limit, Measure measure) {
  const size_t dot = name.rfind('.');
  std::string extension =
      dot != std::string::npos && dot > 0 ? name.substr(dot) : "";
  if (lengthOf(extension, measure) >= limit) extension.clear();
  const std::string_view whole = name;
  std::string stem = cut(whole.substr(0, name.size() - extension.size()),
                         limit - lengthOf(extension, measure), measure);
  dropTrailingDotsAndBlanks(stem);
  if (stem.empty()) stem = "_";
  return stem + extension;
}

// `path` with every element between its '/' replaced by `map` of it; the
// '/' themselves, doubled ones too, stay as they are.
template <typename Map>
std::string mapElements(std::string_view path, const Map& map) {
  std::string mapped;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) mapped += map(path.substr(start, end - start));
    if (end < path.size()) mapped += '/';
    start = end + 1;
  }
  return mapped;
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
  return lengthOf(mapped, Measure::Utf16Units) > kMaxUnits
             ? shortened(mapped, kMaxUnits, Measure::Utf16Units)
             : mapped;
}

std::string fatPath(std::string_view path) {
  return mapElements(path, fatName);
}

std::string fittedName(std::string_view name, size_t maxBytes) {
  if (name.size() <= maxBytes) return std::string(name);
  return shortened(std::string(name), maxBytes, Measure::Bytes);
}

std::string fittedPath(std::string_view path, size_t maxBytes) {
  // No element is longer than the whole path.
  if (path.size() <= maxBytes) return std::string(path);
  return mapElements(path, [maxBytes](std::string_view name) {
    return fittedName(name, maxBytes);
  });
}
