#include "convert_test_songs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "child_process.h"

namespace {

ChildResult ffmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {"ffmpeg", "-v", "error", "-nostdin", "-y"});
  ChildOptions options;
  return ChildProcess(args, options).wait();
}

}  // namespace

void runFfmpeg(std::vector<std::string> args) {
  const ChildResult result = ffmpeg(std::move(args));
  ASSERT_EQ(result.status, 0) << "ffmpeg: " << result.err;
}

void runFfmpegOrDie(std::vector<std::string> args) {
  const ChildResult result = ffmpeg(std::move(args));
  if (result.status == 0) return;
  std::fprintf(stderr, "ffmpeg: %s\n", result.err.c_str());
  std::exit(1);
}

void removeFile(const std::string& path) { unlink(path.c_str()); }

void makeSong(const std::string& path, const std::string& source,
              double seconds, int rate, int channels,
              const std::vector<std::string>& extra) {
  std::ostringstream input;
  input << source << (source.find('=') == std::string::npos ? "=" : ":")
        << "sample_rate=" << rate << ":duration=" << seconds;
  std::vector<std::string> args = {"-f", "lavfi", "-i", input.str()};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), {"-ac", std::to_string(channels), path});
  runFfmpegOrDie(args);
}

TestSongs::TestSongs() {
  runFfmpeg({"-f", "lavfi", "-i", "color=c=red:s=32x32", "-frames:v", "1",
             dir_ / "cover.png"});
  makeSong(dir_ / "tagged.flac", "sine", 2, 44100, 2,
           {"-i",
            dir_ / "cover.png",
            "-map",
            "0:a",
            "-map",
            "1:v",
            "-c:v",
            "copy",
            "-disposition:v",
            "attached_pic",
            "-metadata",
            "title=Song Title",
            "-metadata",
            "artist=The Artist",
            "-metadata",
            "album_artist=Various",
            "-metadata",
            "album=The Album",
            "-metadata",
            "track=3/12",
            "-metadata",
            "disc=1/2",
            "-metadata",
            "date=2001",
            "-metadata",
            "genre=Rock",
            "-metadata",
            "REPLAYGAIN_TRACK_GAIN=-6.50 dB",
            "-metadata",
            "REPLAYGAIN_ALBUM_GAIN=-7.00 dB"});
  makeSong(dir_ / "surround96k.wav", "sine", 1.5, 96000, 6);
  makeSong(dir_ / "mono48k.mp3", "sine", 1, 48000, 1,
           {"-b:a", "96k", "-metadata", "title=Mono"});
  writeText(dir_ / "mp3-named.flac", readText(dir_ / "mono48k.mp3"));
  writeText(dir_ / "garbage.flac", std::string(4096, 'x'));
}

const TestSongs& testSongs() {
  static const TestSongs songs;
  return songs;
}

uint64_t TestSongs::durationMs(const std::string& name) const {
  if (name == "tagged.flac") return 2000;
  if (name == "surround96k.wav") return 1500;
  return 1000;
}

uint64_t fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string makeLongPath(const std::string& base, size_t length) {
  const std::string element(200, 'd');
  std::string path = base;
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
  while (path.size() <= length && fd >= 0) {
    mkdirat(fd, element.c_str(), 0755);
    const int next = openat(fd, element.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    path += "/" + element;
  }
  if (fd >= 0) close(fd);
  return path;
}
