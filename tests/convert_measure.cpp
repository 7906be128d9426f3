// Measures the conversion unit on songs made here with the ffmpeg command
// (not part of the tests):
//   plinkard_convert_measure estimate
//     the size estimate against the real size, for a varied set of songs,
//     in every format at its default and a low bitrate;
//   plinkard_convert_measure speed SONGS SECONDS THREADS
//     SONGS FLAC songs converted to MP3 at 192 kbit/s by the queue, then by
//     the ffmpeg command run once per song one after another.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "convert/convert_queue.h"
#include "convert/converter.h"
#include "convert/size_estimate.h"
#include "convert/song_facts.h"
#include "convert_test_songs.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

// Tones that move, with a little noise, different in each channel: closer
// to music than noise or a steady tone.
const char kChords[] =
    "aevalsrc=0.2*sin(2*PI*(220+20*sin(t))*t)+0.1*sin(2*PI*660*t)+0.05*"
    "(random(0)-0.5)|0.2*sin(2*PI*330*t)+0.1*sin(2*PI*(990+50*sin(2*t))*t)"
    "+0.05*(random(1)-0.5)";

struct Made {
  const char* name;
  const char* source;
  double seconds;
  int rate;
  int channels;
  bool tagged;
};

const Made kSet[] = {
    {"short-noise.flac", "anoisesrc=color=pink", 2, 44100, 2, true},
    {"mono48k-noise.flac", "anoisesrc=color=pink", 30, 48000, 1, true},
    {"long96k-noise.flac", "anoisesrc=color=pink", 200, 96000, 2, true},
    {"tone44k.wav", "sine=frequency=440", 30, 44100, 2, false},
    {"chords44k.flac", kChords, 90, 44100, 2, true},
    {"chords96k-mono.flac", kChords, 20, 96000, 1, false},
    {"brown48k.flac", "anoisesrc=color=brown", 60, 48000, 2, true},
};

std::vector<std::string> tagOptions(const std::string& cover) {
  return {"-i",
          cover,
          "-map",
          "0:a",
          "-map",
          "1:v",
          "-c:v",
          "copy",
          "-disposition:v",
          "attached_pic",
          "-metadata",
          "title=A Title Here",
          "-metadata",
          "artist=Some Artist",
          "-metadata",
          "album=An Album",
          "-metadata",
          "track=4/10",
          "-metadata",
          "date=1999",
          "-metadata",
          "genre=Jazz"};
}

SongShape shapeOf(const SongFacts& facts, const ConvertFormat& format) {
  SongShape shape;
  shape.durationMs = facts.durationMs;
  shape.sampleRate = static_cast<unsigned>(facts.sampleRate);
  shape.channels = static_cast<unsigned>(facts.channels);
  for (const auto& tag : facts.tags) {
    static const char* const kept[] = {"title",        "artist", "album",
                                       "track",        "date",   "genre",
                                       "album_artist", "disc"};
    for (const char* name : kept) {
      if (tag.first != name) continue;
      ++shape.tagCount;
      shape.tagBytes += tag.first.size() + tag.second.size();
    }
  }
  (void)format;
  shape.pictureBytes = facts.coverBytes;
  return shape;
}

int measureEstimate() {
  TempDir dir;
  runFfmpegOrDie({"-f", "lavfi", "-i", "testsrc=s=300x300", "-frames:v", "1",
                  dir / "cover.jpg"});
  for (const Made& m : kSet) {
    makeSong(
        dir / m.name, m.source, m.seconds, m.rate, m.channels,
        m.tagged ? tagOptions(dir / "cover.jpg") : std::vector<std::string>{});
  }
  std::printf("%-20s %-9s %10s %10s %7s\n", "song", "format", "real",
              "estimate", "error%");
  os::HeldFolder held;
  for (const char* formatText :
       {"mp3", "mp3:64", "m4a", "m4a:96", "opus", "opus:48", "ogg", "ogg:96"}) {
    ConvertFormat format;
    std::string error;
    parseConvertFormat(formatText, format, error);
    double worst = 0, sum = 0;
    for (const Made& m : kSet) {
      SongFacts facts;
      readSongFacts(dir / m.name, format, facts);
      const std::string target = dir / (std::string(m.name) + format.extension);
      const ConvertResult result =
          convertSong(dir / m.name, held, target, format, nullptr);
      if (result.status != ConvertStatus::Converted) {
        std::printf("%s %s: %s\n", m.name, formatText, result.error.c_str());
        return 1;
      }
      const uint64_t estimate =
          estimateConvertedBytes(format, shapeOf(facts, format));
      const double percent =
          100.0 *
          (static_cast<double>(estimate) - static_cast<double>(result.bytes)) /
          static_cast<double>(result.bytes);
      worst = std::max(worst, std::fabs(percent));
      sum += std::fabs(percent);
      std::printf("%-20s %-9s %10llu %10llu %+7.2f\n", m.name, formatText,
                  static_cast<unsigned long long>(result.bytes),
                  static_cast<unsigned long long>(estimate), percent);
      removeFile(target);
    }
    std::printf("%-20s %-9s mean |error| %.2f%%, worst %.2f%%\n", "",
                formatText, sum / std::size(kSet), worst);
  }
  return 0;
}

// The processor time this process has used so far.
double cpuSeconds() {
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) /
             1e6;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int measureSpeed(int songs, double seconds, size_t threads) {
  TempDir dir;
  makeDirs(dir / "queue");
  makeDirs(dir / "cli");
  for (int i = 0; i < songs; ++i) {
    makeSong(dir / ("s" + std::to_string(i) + ".flac"), "anoisesrc=color=pink",
             seconds, 44100, 2);
  }
  os::HeldFolder held;
  ConvertQueue::Settings settings;
  settings.threads = threads;
  const double cpuBefore = cpuSeconds();
  const Clock::time_point start = Clock::now();
  {
    ConvertQueue queue(held, settings);
    for (int i = 0; i < songs; ++i) {
      const std::string name = "s" + std::to_string(i);
      queue.add(dir / (name + ".flac"), dir / ("queue/" + name + ".mp3"));
    }
    for (int i = 0; i < songs; ++i) {
      const ConvertResult result = queue.next();
      if (result.status != ConvertStatus::Converted) return 1;
    }
  }
  const double queueSeconds = secondsSince(start);
  const double queueCpu = cpuSeconds() - cpuBefore;
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  double cliCpu = 0;
  const Clock::time_point cliStart = Clock::now();
  long cliRss = 0;
  for (int i = 0; i < songs; ++i) {
    const std::string name = "s" + std::to_string(i);
    ChildOptions options;
    const ChildResult r =
        ChildProcess({"ffmpeg", "-v", "error", "-nostdin", "-i",
                      dir / (name + ".flac"), "-c:a", "libmp3lame", "-b:a",
                      "192k", dir / ("cli/" + name + ".mp3")},
                     options)
            .wait();
    if (r.status != 0) return 1;
    cliRss = std::max(cliRss, r.maxRssKiB);
    cliCpu += r.cpuSeconds;
  }
  const double cliSeconds = secondsSince(cliStart);
  std::printf("%d songs of %.0f s, FLAC to MP3 192k\n", songs, seconds);
  std::printf(
      "queue, %zu threads: %.2f s (%.2f s of processor); peak RSS of this "
      "process %ld KiB\n",
      threads, queueSeconds, queueCpu, usage.ru_maxrss);
  std::printf(
      "ffmpeg once per song: %.2f s (%.2f s of processor); peak RSS of one "
      "%ld KiB\n",
      cliSeconds, cliCpu, cliRss);
  std::printf("ratio queue / ffmpeg: %.3f\n", queueSeconds / cliSeconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "estimate") return measureEstimate();
  if (mode == "speed" && argc == 5) {
    return measureSpeed(std::atoi(argv[2]), std::atof(argv[3]),
                        static_cast<size_t>(std::atoi(argv[4])));
  }
  std::fprintf(stderr,
               "usage: plinkard_convert_measure estimate\n"
               "       plinkard_convert_measure speed SONGS SECONDS THREADS\n");
  return 2;
}
