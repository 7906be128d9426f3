#include "record/record.h"

#include <unordered_map>

namespace {

const char kHeader[] = "plinkard-record ";

std::string escaped(std::string_view path) {
  std::string text;
  text.reserve(path.size());
  for (char c : path) {
    switch (c) {
      case '\\':
        text += "\\\\";
        break;
      case '\t':
        text += "\\t";
        break;
      case '\n':
        text += "\\n";
        break;
      case '\r':
        text += "\\r";
        break;
      default:
        text += c;
    }
  }
  return text;
}

bool unescape(std::string_view text, std::string& path) {
  path.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      path += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        path += '\\';
        break;
      case 't':
        path += '\t';
        break;
      case 'n':
        path += '\n';
        break;
      case 'r':
        path += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

// Reads a decimal number of at most `limit` into `value`; nothing else.
bool readNumber(std::string_view text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

std::string timeText(const os::FileTime& time) {
  std::string nanoseconds = std::to_string(time.nanoseconds);
  nanoseconds.insert(0, 9 - std::min<size_t>(9, nanoseconds.size()), '0');
  return std::to_string(time.seconds) + "." + nanoseconds;
}

// "<seconds>.<nine digits>", the seconds with a '-' before 1970.
bool readTime(std::string_view text, os::FileTime& time) {
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || text.size() - dot - 1 != 9) {
    return false;
  }
  const bool negative = !text.empty() && text[0] == '-';
  uint64_t seconds = 0, nanoseconds = 0;
  if (!readNumber(text.substr(negative, dot - negative), INT64_MAX, seconds) ||
      !readNumber(text.substr(dot + 1), 999999999, nanoseconds)) {
    return false;
  }
  time.seconds =
      negative ? -static_cast<int64_t>(seconds) : static_cast<int64_t>(seconds);
  time.nanoseconds = static_cast<uint32_t>(nanoseconds);
  return true;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

// Reads one line after the first into `record`; the reason it cannot, or
// an empty text.
std::string readLine(std::string_view line, Record& record) {
  const std::vector<std::string_view> fields = fieldsOf(line);
  const std::string_view kind = fields[0];
  const size_t wanted = kind == "song"       ? 5
                        : kind == "folder"   ? 2
                        : kind == "playlist" ? 4
                                             : 0;
  if (wanted == 0) return "not a song, folder or playlist line";
  if (fields.size() != wanted) {
    return "a " + std::string(kind) + " line has " + std::to_string(wanted) +
           " fields";
  }
  std::string path;
  if (!unescape(fields.back(), path)) return "a \\ in its path stands alone";
  if (!validRecordPath(path)) return "its path is not one below the folder";
  if (kind == "folder") {
    record.folders.push_back(path);
    return "";
  }
  RecordedSong file;
  file.path = path;
  if (!readNumber(fields[1], UINT64_MAX, file.size)) return "its size is bad";
  if (!readTime(fields[2], file.modified)) return "its time is bad";
  if (kind == "playlist") {
    record.playlists.push_back(file);
    return "";
  }
  if (fields[3] != "copied" && fields[3] != "moved") {
    return "a song is copied or moved";
  }
  file.moved = fields[3] == "moved";
  record.songs.push_back(file);
  return "";
}

// Keeps the last of each path, in its place.
template <typename Item, typename PathOf>
void keepLastOfEach(std::vector<Item>& items, const PathOf& pathOf) {
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < items.size(); ++i) last[pathOf(items[i])] = i;
  std::vector<Item> kept;
  kept.reserve(last.size());
  for (size_t i = 0; i < items.size(); ++i) {
    if (last[pathOf(items[i])] == i) kept.push_back(std::move(items[i]));
  }
  items = std::move(kept);
}

}  // namespace

RecordFormat parseRecord(std::string_view text, Record& record,
                         std::vector<RecordProblem>& problems,
                         unsigned& version) {
  record = Record();
  size_t number = 0;
  for (size_t start = 0; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (number == 0) {
      uint64_t value = 0;
      if (line.substr(0, sizeof kHeader - 1) != kHeader ||
          !readNumber(line.substr(sizeof kHeader - 1), UINT32_MAX, value)) {
        return RecordFormat::NotARecord;
      }
      version = static_cast<unsigned>(value);
      if (version == 0) return RecordFormat::NotARecord;
      if (version > kRecordVersion) return RecordFormat::Newer;
      continue;
    }
    // Every line is written with its line end: one without was cut short.
    if (end == text.size()) {
      problems.push_back({number + 1, "it has no line end"});
      break;
    }
    if (line.empty()) continue;
    const std::string why = readLine(line, record);
    if (!why.empty()) problems.push_back({number + 1, why});
  }
  if (number == 0) return RecordFormat::NotARecord;
  keepLastOfEach(record.songs, [](const RecordedSong& s) { return s.path; });
  keepLastOfEach(record.folders, [](const std::string& f) { return f; });
  keepLastOfEach(record.playlists,
                 [](const RecordedFile& p) { return p.path; });
  return RecordFormat::Known;
}

std::string songLine(const RecordedSong& song) {
  return "song\t" + std::to_string(song.size) + "\t" + timeText(song.modified) +
         (song.moved ? "\tmoved\t" : "\tcopied\t") + escaped(song.path) + "\n";
}

std::string folderLine(const std::string& path) {
  return "folder\t" + escaped(path) + "\n";
}

std::string playlistLine(const RecordedFile& playlist) {
  return "playlist\t" + std::to_string(playlist.size) + "\t" +
         timeText(playlist.modified) + "\t" + escaped(playlist.path) + "\n";
}

std::string recordText(const Record& record) {
  std::string text = kHeader + std::to_string(kRecordVersion) + "\n";
  for (const RecordedSong& song : record.songs) text += songLine(song);
  for (const std::string& folder : record.folders) text += folderLine(folder);
  for (const RecordedFile& playlist : record.playlists) {
    text += playlistLine(playlist);
  }
  return text;
}

uint64_t songLineBytes(std::string_view path, uint64_t size) {
  // "song", "copied", the widest time, four tabs and the line end.
  uint64_t bytes = 4 + 6 + 21 + 4 + 1 + std::to_string(size).size();
  for (char c : path) {
    bytes += c == '\\' || c == '\t' || c == '\n' || c == '\r' ? 2 : 1;
  }
  return bytes;
}

std::string recordPath(std::string_view relative) {
  std::string path;
  path.reserve(relative.size());
  for (char c : relative) {
    if (c != '/' || (!path.empty() && path.back() != '/')) path += c;
  }
  if (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

bool validRecordPath(std::string_view path) {
  if (path.empty() || path == kRecordName) return false;
  for (size_t start = 0;;) {
    const size_t slash = path.find('/', start);
    const std::string_view element = path.substr(start, slash - start);
    if (element.empty() || element == "." || element == ".." ||
        element.find('\0') != std::string_view::npos) {
      return false;
    }
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

bool unchangedSince(const RecordedFile& then, const os::FileStatus& now) {
  if (now.kind != os::FileStatus::Kind::RegularFile || now.size != then.size) {
    return false;
  }
  constexpr int64_t kSecond = 1000000000, kHour = 3600 * kSecond;
  constexpr int64_t kHours = 26;
  int64_t seconds = 0;
  if (__builtin_sub_overflow(now.modified.seconds, then.modified.seconds,
                             &seconds) ||
      seconds > kHours * 3600 + 3 || seconds < -kHours * 3600 - 3) {
    return false;
  }
  const int64_t shift = seconds * kSecond +
                        static_cast<int64_t>(now.modified.nanoseconds) -
                        static_cast<int64_t>(then.modified.nanoseconds);
  // The nearest whole number of hours, and what is left beside it.
  const int64_t hours = (shift + (shift < 0 ? -kHour : kHour) / 2) / kHour;
  const int64_t rest = shift - hours * kHour;
  return hours >= -kHours && hours <= kHours && rest <= 2 * kSecond &&
         rest >= -2 * kSecond;
}
