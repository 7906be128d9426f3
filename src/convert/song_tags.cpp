#include "convert/song_tags.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace convert_av {

namespace {

// FFmpeg's common names, which its demuxers read the formats' own into and
// its muxers write back as the formats' own (TPE2, aART, ALBUMARTIST).
const char* const kCommon[] = {"title", "artist", "album_artist", "album",
                               "track", "disc",   "date",         "genre"};
// Other names found for them in sources.
const char* const kAliases[][2] = {{"album_artist", "album artist"},
                                   {"album_artist", "albumartist"},
                                   {"track", "tracknumber"},
                                   {"disc", "discnumber"},
                                   {"date", "year"}};
// ReplayGain, as the ID3 TXXX and Vorbis comment names most readers know.
const char* const kGains[] = {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK",
                              "REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"};

// The value of `key` (any letter case) in the container's tags, else in the
// audio stream's.
const char* lookUp(const AVFormatContext& input, const AVStream& audio,
                   const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(input.metadata, key, nullptr, 0);
  if (entry == nullptr) entry = av_dict_get(audio.metadata, key, nullptr, 0);
  return entry != nullptr ? entry->value : nullptr;
}

void carryGains(const AVFormatContext& input, const AVStream& audio,
                ConvertCodec codec, AVDictionary** tags) {
  for (const char* key : kGains) {
    const char* value = lookUp(input, audio, key);
    if (value == nullptr) continue;
    if (codec != ConvertCodec::Opus) {
      av_dict_set(tags, key, value, 0);
      continue;
    }
    // Opus players apply R128 gains, never ReplayGain; peaks have no place.
    int gain = 0;
    const bool album = std::string(key).find("ALBUM") != std::string::npos;
    if (std::string(key).find("GAIN") != std::string::npos &&
        r128FromReplayGain(value, gain)) {
      av_dict_set(tags, album ? "R128_ALBUM_GAIN" : "R128_TRACK_GAIN",
                  std::to_string(gain).c_str(), 0);
    }
  }
}

// TagLib's property name for a tag FFmpeg calls `key`.
std::string propertyName(const std::string& key) {
  static const char* const kNames[][2] = {{"title", "TITLE"},
                                          {"artist", "ARTIST"},
                                          {"album_artist", "ALBUMARTIST"},
                                          {"album", "ALBUM"},
                                          {"track", "TRACKNUMBER"},
                                          {"disc", "DISCNUMBER"},
                                          {"date", "DATE"},
                                          {"genre", "GENRE"}};
  for (const auto& name : kNames) {
    if (key == name[0]) return name[1];
  }
  std::string upper = key;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> carriedProperties(
    const AVFormatContext& input, const AVStream& audio) {
  AVDictionary* tags = nullptr;
  carryTags(input, audio, ConvertCodec::Aac, &tags);
  std::vector<std::pair<std::string, std::string>> properties;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    properties.emplace_back(propertyName(entry->key), entry->value);
  }
  av_dict_free(&tags);
  return properties;
}

bool r128FromReplayGain(const char* text, int& gain) {
  char* end = nullptr;
  const double decibels = std::strtod(text, &end);
  if (end == text || !std::isfinite(decibels)) return false;
  // ReplayGain aims at -18 LUFS, R128 at -23: 5 dB lower.
  const double q78 = std::round((decibels - 5.0) * 256.0);
  gain = static_cast<int>(std::clamp(q78, -32768.0, 32767.0));
  return true;
}

void carryTags(const AVFormatContext& input, const AVStream& audio,
               ConvertCodec codec, AVDictionary** tags) {
  for (const char* key : kCommon) {
    if (const char* value = lookUp(input, audio, key)) {
      av_dict_set(tags, key, value, 0);
    }
  }
  for (const auto& alias : kAliases) {
    if (av_dict_get(*tags, alias[0], nullptr, 0) != nullptr) continue;
    if (const char* value = lookUp(input, audio, alias[1])) {
      av_dict_set(tags, alias[0], value, 0);
    }
  }
  carryGains(input, audio, codec, tags);
}

}  // namespace convert_av
