#include "convert/convert_format.h"

namespace {

struct FormatRow {
  const char* name;
  ConvertCodec codec;
  unsigned defaultKbps;
  unsigned minKbps;
  unsigned maxKbps;
  const char* extension;
  const char* codecName;
};

const FormatRow kFormats[] = {
    {"mp3", ConvertCodec::Mp3, 192, 32, 320, ".mp3", "mp3"},
    {"m4a", ConvertCodec::Aac, 192, 32, 512, ".m4a", "aac"},
    {"opus", ConvertCodec::Opus, 128, 6, 510, ".opus", "opus"},
    {"ogg", ConvertCodec::Vorbis, 160, 45, 500, ".ogg", "vorbis"},
};

// A bitrate of decimal digits only, at most 4 of them.
bool parseKbps(const std::string& text, unsigned& kbps) {
  if (text.empty() || text.size() > 4 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  kbps = static_cast<unsigned>(std::stoul(text));
  return true;
}

}  // namespace

bool parseConvertFormat(const std::string& text, ConvertFormat& format,
                        std::string& error) {
  const size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  for (const FormatRow& row : kFormats) {
    if (name != row.name) continue;
    unsigned kbps = row.defaultKbps;
    if (colon != std::string::npos &&
        (!parseKbps(text.substr(colon + 1), kbps) || kbps < row.minKbps ||
         kbps > row.maxKbps)) {
      error = "The bitrate of " + name + " must be " +
              std::to_string(row.minKbps) + " to " +
              std::to_string(row.maxKbps) + " kbit/s!";
      return false;
    }
    format =
        ConvertFormat{row.codec, kbps, row.name, row.extension, row.codecName};
    return true;
  }
  error = "Unknown format '" + name + "'; give mp3, m4a, opus or ogg!";
  return false;
}
