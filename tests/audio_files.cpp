#include "audio_files.h"

#include <boost/filesystem.hpp>
#include <stdexcept>
#include <vector>

#include "child_process.h"

void makeAudio(const std::string& path, const AudioSpec& spec) {
  boost::filesystem::create_directories(
      boost::filesystem::path(path).parent_path());
  std::vector<std::string> command = {
      "ffmpeg",
      "-nostdin",
      "-loglevel",
      "error",
      "-f",
      "lavfi",
      "-i",
      "sine=frequency=440:sample_rate=8000:duration=" +
          std::to_string(spec.seconds),
      "-ac",
      "1"};
  auto tag = [&](const char* key, const std::string& value) {
    if (value.empty()) return;
    command.insert(command.end(),
                   {"-metadata", std::string(key) + "=" + value});
  };
  tag("title", spec.title);
  tag("artist", spec.artist);
  tag("album_artist", spec.albumArtist);
  tag("album", spec.album);
  if (spec.track != 0) tag("track", std::to_string(spec.track));
  if (spec.disc != 0) tag("disc", std::to_string(spec.disc));
  command.insert(command.end(), {"-y", path});
  const ChildResult made = runChild(command);
  if (made.status != 0) {
    throw std::runtime_error("ffmpeg could not make " + path + ": " + made.err);
  }
}
