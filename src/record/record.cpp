#include "record/record.h"

#include <unordered_map>

namespace {

const char kHeader[] = "plinkard-record ";

// A path or tag as a field: '\\', tab, LF and CR escaped, and a text
// that would read as "not known" written as \-.
std::string escaped(std::string_view path) {
  if (path == "-") return "\\-";
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
      case '-':
        path += '-';
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

const char* const kKindNames[] = {"copied", "moved", "added"};

bool readKind(std::string_view text, RecordedSong::Kind& kind,
              unsigned version) {
  const size_t kinds = version >= 2 ? 3 : 2;
  for (size_t i = 0; i < kinds; ++i) {
    if (text == kKindNames[i]) {
      kind = static_cast<RecordedSong::Kind>(i);
      return true;
    }
  }
  return false;
}

bool readHex(std::string_view text, uint64_t& value) {
  if (text.size() != 16) return false;
  value = 0;
  for (char c : text) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return true;
}

std::string hexText(uint64_t value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (size_t i = 16; i-- > 0; value >>= 4) text[i] = kDigits[value & 15];
  return text;
}

// The fields of format 2 that format 1 did not have: checksum, playing
// time, artist and title. The reason they cannot be read, or "".
std::string readSongDetails(const std::vector<std::string_view>& fields,
                            RecordedSong& song) {
  if (fields[4] != "-") {
    if (!readHex(fields[4], song.checksum)) return "its checksum is bad";
    song.hasChecksum = true;
  }
  if (fields[5] != "-") {
    uint64_t ms = 0;
    if (!readNumber(fields[5], INT64_MAX, ms)) return "its playing time is bad";
    song.playingMs = static_cast<int64_t>(ms);
  }
  for (const auto& [field, text] :
       {std::pair{fields[6], &song.artist}, {fields[7], &song.title}}) {
    if (field != "-" && !unescape(field, *text)) {
      return "a \\ in its tags stands alone";
    }
  }
  return "";
}

// Reads one line after the first, of a record of `version`, into `record`;
// the reason it cannot, or an empty text.
std::string readLine(std::string_view line, unsigned version, Record& record) {
  const std::vector<std::string_view> fields = fieldsOf(line);
  const std::string_view kind = fields[0];
  const size_t wanted = kind == "song"       ? (version >= 2 ? 9 : 5)
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
  if (!readKind(fields[3], file.kind, version)) {
    return version >= 2 ? "a song is copied, moved or added"
                        : "a song is copied or moved";
  }
  if (version >= 2) {
    std::string why = readSongDetails(fields, file);
    if (!why.empty()) return why;
  }
  record.songs.push_back(std::move(file));
  return "";
}

// Keeps the last of each path, in its place.
template <typename Item, typename PathOf>
void keepLastOfEach(std::vector<Item>& items, const PathOf& pathOf) {
  std::vector<bool> last(items.size(), false);
  {
    std::unordered_map<std::string_view, size_t> lastOf;
    lastOf.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) lastOf[pathOf(items[i])] = i;
    if (lastOf.size() == items.size()) return;
    for (const auto& entry : lastOf) last[entry.second] = true;
  }
  size_t kept = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!last[i]) continue;
    if (kept != i) items[kept] = std::move(items[i]);
    ++kept;
  }
  items.resize(kept);
}

std::string textField(const std::string& text) {
  return text.empty() ? "-" : escaped(text);
}

}  // namespace

void RecordParser::tell(size_t line, std::string why) {
  if (problems_.size() < kMaxProblems) {
    problems_.push_back({line, std::move(why), 0});
  } else {
    ++untold_;
  }
}

bool RecordParser::line(std::string_view text, bool ended) {
  const size_t number = ++number_;
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (number == 1) {
    uint64_t value = 0;
    if (text.substr(0, sizeof kHeader - 1) != kHeader ||
        !readNumber(text.substr(sizeof kHeader - 1), UINT32_MAX, value) ||
        value == 0) {
      format_ = RecordFormat::NotARecord;
      return false;
    }
    version_ = static_cast<unsigned>(value);
    format_ =
        version_ > kRecordVersion ? RecordFormat::Newer : RecordFormat::Known;
    return format_ == RecordFormat::Known;
  }
  // Every line is written with its line end: one without was cut short.
  if (!ended) {
    tell(number, "it has no line end");
    return true;
  }
  if (text.empty()) return true;
  std::string why = readLine(text, version_, record_);
  if (!why.empty()) tell(number, std::move(why));
  return true;
}

RecordFormat RecordParser::finish() {
  if (format_ != RecordFormat::Known) return format_;
  if (untold_ > 0) problems_.push_back({0, "", untold_});
  keepLastOfEach(record_.songs, [](const RecordedSong& s) -> std::string_view {
    return s.path;
  });
  keepLastOfEach(record_.folders,
                 [](const std::string& f) -> std::string_view { return f; });
  keepLastOfEach(
      record_.playlists,
      [](const RecordedFile& p) -> std::string_view { return p.path; });
  return format_;
}

RecordFormat parseRecord(std::string_view text, Record& record,
                         std::vector<RecordProblem>& problems,
                         unsigned& version) {
  record = Record();
  RecordParser parser(record, problems);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    const bool ended = end != std::string_view::npos;
    if (!ended) end = text.size();
    const bool more = parser.line(text.substr(start, end - start), ended);
    start = end + 1;
    if (!more) break;
  }
  const RecordFormat format = parser.finish();
  version = parser.version();
  return format;
}

std::string songLine(const RecordedSong& song) {
  return "song\t" + std::to_string(song.size) + "\t" + timeText(song.modified) +
         "\t" + kKindNames[static_cast<size_t>(song.kind)] + "\t" +
         (song.hasChecksum ? hexText(song.checksum) : "-") + "\t" +
         (song.playingMs >= 0 ? std::to_string(song.playingMs) : "-") + "\t" +
         textField(song.artist) + "\t" + textField(song.title) + "\t" +
         escaped(song.path) + "\n";
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

uint64_t songLineBytes(std::string_view path, uint64_t size,
                       const RecordedSong& tags) {
  RecordedSong widest = tags;
  widest.path = path;
  widest.size = size;
  widest.modified = {INT64_MIN, 0};
  widest.hasChecksum = true;
  return songLine(widest).size();
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

bool ownFileName(std::string_view name) {
  static const char kPrefix[] = ".plinkard-";
  if (name.size() < sizeof kPrefix - 1) return false;
  for (size_t i = 0; i + 1 < sizeof kPrefix; ++i) {
    const char c = name[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c) !=
        kPrefix[i]) {
      return false;
    }
  }
  return true;
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
