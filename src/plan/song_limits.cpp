#include "plan/song_limits.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace {

std::string_view trimmed(std::string_view text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

}  // namespace

std::string playingTimeText(uint64_t ms) {
  const uint64_t seconds = ms / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%llu:%02u:%02u",
                static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60),
                static_cast<unsigned>(seconds % 60));
  return text;
}

std::string artistKey(const SongTags& tags) {
  std::string_view artist = trimmed(tags.albumArtist);
  if (artist.empty()) artist = trimmed(tags.artist);
  std::string key(artist);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

SongLimits::SongLimits(const std::vector<SongTags>& tags, uint64_t fillMs,
                       uint32_t perArtist, bool albums)
    : fillMs_(fillMs), perArtist_(perArtist), albums_(albums) {
  if (fillMs_ != 0) {
    playingMs_.reserve(tags.size());
    for (const SongTags& song : tags) {
      playingMs_.push_back(song.playingMs);
      if (song.playingMs < 0) ++untimed_;
    }
  }
  if (perArtist_ == 0) return;
  std::unordered_map<std::string, uint32_t> numbers;
  artists_.reserve(tags.size());
  for (const SongTags& song : tags) {
    const std::string key = artistKey(song);
    if (key.empty()) {
      artists_.push_back(kNoArtist);
      continue;
    }
    const auto entry =
        numbers.emplace(key, static_cast<uint32_t>(numbers.size()));
    artists_.push_back(entry.first->second);
  }
  counts_.assign(numbers.size(), 0);
}

void SongLimits::reset() {
  takenMs_ = 0;
  std::fill(counts_.begin(), counts_.end(), 0);
}

uint32_t SongLimits::artistOf(const uint32_t* first,
                              const uint32_t* last) const {
  for (; first != last; ++first) {
    if (artists_[*first] != kNoArtist) return artists_[*first];
  }
  return kNoArtist;
}

uint64_t SongLimits::msOf(const uint32_t* first, const uint32_t* last) const {
  uint64_t ms = 0;
  for (; first != last; ++first) {
    if (playingMs_[*first] < 0) return UINT64_MAX;
    ms += static_cast<uint64_t>(playingMs_[*first]);
  }
  return ms;
}

bool SongLimits::fits(const uint32_t* first, const uint32_t* last) const {
  if (fillMs_ != 0) {
    const uint64_t ms = msOf(first, last);
    if (ms == UINT64_MAX || ms > fillMs_ - takenMs_) return false;
  }
  if (perArtist_ == 0) return true;
  if (albums_) {
    const uint32_t artist = artistOf(first, last);
    return artist == kNoArtist || counts_[artist] < perArtist_;
  }
  // Songs are taken one at a time.
  const uint32_t artist = artists_[*first];
  return artist == kNoArtist || counts_[artist] < perArtist_;
}

void SongLimits::take(const uint32_t* first, const uint32_t* last) {
  if (fillMs_ != 0) takenMs_ += msOf(first, last);
  if (perArtist_ == 0) return;
  const uint32_t artist = albums_ ? artistOf(first, last) : artists_[*first];
  if (artist != kNoArtist) ++counts_[artist];
}
