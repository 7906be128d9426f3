#ifndef PLINKARD_CONVERT_SONG_FACTS_H_
#define PLINKARD_CONVERT_SONG_FACTS_H_

#include <cstdint>
#include <map>
#include <string>

#include "convert/convert_format.h"

// What FFmpeg's libraries read from a song's file: its audio, its tags and
// its cover. Plain data.
struct SongFacts {
  std::string codec;      // of the audio, FFmpeg's short name ("mp3", "flac")
  bool inFormat = false;  // the audio is in the format asked about
  int64_t bitRate = 0;    // of the audio stream as stored, bit/s; 0: unknown
  int sampleRate = 0;
  int channels = 0;
  uint64_t durationMs = 0;  // 0: unknown
  // Every tag of the container and the audio stream, names in lower case.
  std::map<std::string, std::string> tags;
  uint64_t coverBytes = 0;  // the attached picture's, 0 without one
};

// Reads the song at `path` (any length); "" or what failed, with the
// library's or the system's reason. `format` decides `inFormat`.
std::string readSongFacts(const std::string& path, const ConvertFormat& format,
                          SongFacts& facts);

#endif  // PLINKARD_CONVERT_SONG_FACTS_H_
