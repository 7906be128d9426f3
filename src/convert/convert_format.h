#ifndef PLINKARD_CONVERT_CONVERT_FORMAT_H_
#define PLINKARD_CONVERT_CONVERT_FORMAT_H_

#include <string>

// What songs are converted into: the codec, its bitrate and the target's
// extension. Plain data; no outside library is seen here.
enum class ConvertCodec { Mp3, Aac, Opus, Vorbis };

struct ConvertFormat {
  ConvertCodec codec = ConvertCodec::Mp3;
  unsigned kbps = 192;
  std::string name = "mp3";        // as typed after -c
  std::string extension = ".mp3";  // with its dot
  // The codec's short name as FFmpeg and the tags unit give it ("mp3",
  // "aac", "opus", "vorbis"): a song whose audio is in it is copied.
  std::string codecName = "mp3";
};

// Reads "FORMAT" or "FORMAT:KBPS": FORMAT is mp3 (default 192 kbit/s,
// 32-320), m4a (AAC, 192, 32-512), opus (128, 6-510) or ogg (Vorbis, 160,
// 45-500); KBPS is a decimal number in that range. On failure `format` is
// unchanged and `error` says why, in a sentence.
bool parseConvertFormat(const std::string& text, ConvertFormat& format,
                        std::string& error);

#endif  // PLINKARD_CONVERT_CONVERT_FORMAT_H_
