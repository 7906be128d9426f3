#include "record/playlist.h"

#include <algorithm>

namespace {

// How many leading folders `a` and `b` share: whole elements before a '/'.
size_t sharedFolders(const std::string& a, const std::string& b,
                     size_t& length) {
  size_t shared = 0;
  length = 0;
  for (size_t i = 0; i < a.size() && i < b.size() && a[i] == b[i]; ++i) {
    if (a[i] == '/') {
      ++shared;
      length = i + 1;
    }
  }
  return shared;
}

}  // namespace

std::string playlistEntry(const std::string& song,
                          const std::string& playlist) {
  if (song.find_first_of("\r\n") != std::string::npos) return "";
  size_t length = 0;
  const size_t shared = sharedFolders(song, playlist, length);
  const size_t folders =
      static_cast<size_t>(std::count(playlist.begin(), playlist.end(), '/'));
  std::string entry;
  for (size_t i = shared; i < folders; ++i) entry += "../";
  entry += song.substr(length);
  if (entry[0] == '#') entry.insert(0, "./");
  return entry;
}

std::string extinfLine(const RecordedSong& song) {
  if (song.title.empty()) return "";
  const int64_t seconds =
      song.playingMs < 0 ? -1 : (song.playingMs + 500) / 1000;
  std::string line = "#EXTINF:" + std::to_string(seconds) + ",";
  if (!song.artist.empty()) line += song.artist + " - ";
  line += song.title;
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; },
      ' ');
  return line + "\n";
}

std::string playlistText(const std::vector<RecordedSong>& songs,
                         const std::string& playlist, size_t& listed) {
  std::string text = "#EXTM3U\n";
  listed = 0;
  for (const RecordedSong& song : songs) {
    const std::string entry = playlistEntry(song.path, playlist);
    if (entry.empty()) continue;
    text += extinfLine(song) + entry + "\n";
    ++listed;
  }
  return text;
}
