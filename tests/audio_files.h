#ifndef PLINKARD_TESTS_AUDIO_FILES_H_
#define PLINKARD_TESTS_AUDIO_FILES_H_

#include <string>

// A song to make for a test: its tags (empty or 0: none) and how long it
// plays.
struct AudioSpec {
  std::string title;
  std::string artist;
  std::string albumArtist;
  std::string album;
  unsigned track = 0;
  unsigned disc = 0;
  double seconds = 1.0;
};

// Makes the audio file `path` (its type by its extension: .mp3, .flac,
// .ogg, ...) of a tone with `wanted`'s tags and playing time, and its
// missing folders, with the ffmpeg command; throws when that fails.
void makeAudio(const std::string& path, const AudioSpec& wanted);

#endif  // PLINKARD_TESTS_AUDIO_FILES_H_
