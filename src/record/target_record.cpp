#include "record/target_record.h"

#include <cerrno>

namespace {

std::error_code invalidPath() {
  return std::error_code(EINVAL, std::generic_category());
}

}  // namespace

std::error_code TargetRecord::read(const os::HeldFolder& folder,
                                   RecordFormat& format,
                                   std::vector<RecordProblem>& problems,
                                   unsigned& version) {
  entries = Record();
  format = RecordFormat::Known;
  version = kRecordVersion;
  RecordParser parser(entries, problems);
  // A line longer than any the program writes is damaged however it ends.
  constexpr size_t kMaxLine = 1 << 16;
  const std::error_code error =
      os::readLinesBelow(folder, kRecordName, kMaxRecordBytes, kMaxLine,
                         [&](std::string_view line, bool ended) {
                           return parser.line(line, ended);
                         });
  found_ = !error || error.value() == EFBIG;
  if (error.value() == ENOENT) return {};
  if (error.value() == EFBIG) {
    entries = Record();
    format = RecordFormat::NotARecord;
    return {};
  }
  if (error) return error;
  format = parser.finish();
  version = parser.version();
  return {};
}

std::error_code TargetRecord::writeAnew(const os::HeldFolder& folder,
                                        bool& written) {
  os::FileStatus status;
  const std::error_code error =
      os::replaceFileBelow(folder, kRecordName, ".plinkard-record",
                           recordText(entries), status, written);
  if (!written) return error;
  found_ = true;
  const std::error_code opened = file_.open(folder, kRecordName);
  return error ? error : opened;
}

std::error_code TargetRecord::addSong(const RecordedSong& song) {
  if (!validRecordPath(song.path)) return invalidPath();
  if (const std::error_code error = file_.append(songLine(song))) return error;
  entries.songs.push_back(song);
  return {};
}

std::error_code TargetRecord::addFolder(const std::string& path) {
  if (!validRecordPath(path)) return invalidPath();
  if (const std::error_code error = file_.append(folderLine(path))) {
    return error;
  }
  entries.folders.push_back(path);
  return {};
}

std::error_code TargetRecord::addPlaylist(const RecordedFile& playlist) {
  if (!validRecordPath(playlist.path)) return invalidPath();
  if (const std::error_code error = file_.append(playlistLine(playlist))) {
    return error;
  }
  for (RecordedFile& known : entries.playlists) {
    if (known.path == playlist.path) {
      known = playlist;
      return {};
    }
  }
  entries.playlists.push_back(playlist);
  return {};
}

const RecordedFile* TargetRecord::playlist(const std::string& path) const {
  for (const RecordedFile& known : entries.playlists) {
    if (known.path == path) return &known;
  }
  return nullptr;
}
