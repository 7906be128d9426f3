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

std::string playlistText(const std::vector<std::string>& songs,
                         const std::string& playlist, size_t& listed) {
  std::string text = "#EXTM3U\n";
  listed = 0;
  for (const std::string& song : songs) {
    const std::string entry = playlistEntry(song, playlist);
    if (entry.empty()) continue;
    text += entry + "\n";
    ++listed;
  }
  return text;
}
