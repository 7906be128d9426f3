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
  std::string text;
  entries = Record();
  format = RecordFormat::Known;
  version = kRecordVersion;
  const std::error_code error = os::readFileBelow(folder, kRecordName, text);
  found_ = !error;
  if (error.value() == ENOENT) return {};
  if (error) return error;
  format = parseRecord(text, entries, problems, version);
  return {};
}

std::error_code TargetRecord::writeAnew(const os::HeldFolder& folder) {
  os::FileStatus written;
  if (const std::error_code error =
          os::replaceFileBelow(folder, kRecordName, ".plinkard-record",
                               recordText(entries), written)) {
    return error;
  }
  found_ = true;
  return file_.open(folder, kRecordName);
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
