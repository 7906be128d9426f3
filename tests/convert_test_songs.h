#ifndef PLINKARD_TESTS_CONVERT_TEST_SONGS_H_
#define PLINKARD_TESTS_CONVERT_TEST_SONGS_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

// Songs made with the ffmpeg command for the conversion tests: "tagged.flac" (2
// s, stereo, 44.1 kHz, every tag, ReplayGain and a PNG cover),
// "surround96k.wav" (1.5 s, 5.1, 96 kHz), "mono48k.mp3" (1 s, mono, 48 kHz, 96
// kbit/s), "mp3-named.flac" (that MP3 under another name) and "garbage.flac"
// (no audio at all).
class TestSongs {
 public:
  TestSongs();
  std::string path(const std::string& name) const { return dir_ / name; }
  // The playing time it was made with.
  uint64_t durationMs(const std::string& name) const;

 private:
  TempDir dir_;
};

// The songs above, made the first time they are asked for and removed at
// the end of the test program.
const TestSongs& testSongs();

// Makes `name` in `dir` with ffmpeg: `seconds` of `source` ("sine", or
// "anoisesrc" for noise) at `rate` with `channels`, then `extra` options.
void makeSong(const std::string& path, const std::string& source,
              double seconds, int rate, int channels,
              const std::vector<std::string>& extra = {});

// Runs the ffmpeg command with `args` after its quiet options; a failure
// ends the test (or, for the OrDie form, the program).
void runFfmpeg(std::vector<std::string> args);
void runFfmpegOrDie(std::vector<std::string> args);
void removeFile(const std::string& path);

uint64_t fileSize(const std::string& path);

// Folders below `base` down to a path longer than `length`; the deepest.
std::string makeLongPath(const std::string& base, size_t length);

#endif  // PLINKARD_TESTS_CONVERT_TEST_SONGS_H_
