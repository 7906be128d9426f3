#include "audio_files.h"

#include <boost/filesystem.hpp>
#include <stdexcept>
#include <vector>

#include "child_process.h"

void makeAudio(const std::string& path, const AudioSpec& wanted) {
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
          std::to_string(wanted.seconds),
      "-ac",
      "1"};
  auto tag = [&](const char* key, const std::string& value) {
    if (value.empty()) return;
    command.insert(command.end(),
                   {"-metadata", std::string(key) + "=" + value});
  };
  tag("title", wanted.title);
  tag("artist", wanted.artist);
  tag("album_artist", wanted.albumArtist);
  tag("album", wanted.album);
  if (wanted.track != 0) tag("track", std::to_string(wanted.track));
  if (wanted.disc != 0) tag("disc", std::to_string(wanted.disc));
  command.insert(command.end(), {"-y", path});
  const ChildResult made = runChild(command);
  if (made.status != 0) {
    throw std::runtime_error("ffmpeg could not make " + path + ": " + made.err);
  }
}
