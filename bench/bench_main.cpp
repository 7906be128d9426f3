// Compares whole Plinkard runs with find and cp on synthetic libraries and
// prints the medians, the median ratios and the targets they must meet.
//
//   plinkard_bench --plinkard BIN [--data DIR] [--runs N] [--only NAME]
//                  [--delay-fs BIN] [--fuse-runs N] [--baseline BIN]

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "make_library.h"

namespace {

using Command = std::vector<std::string>;

struct Settings {
  std::string plinkard;
  std::string data = "/var/tmp/plinkard-bench";
  int runs = 5;
  std::string only;      // run only the comparisons whose name contains this
  std::string delayFs;   // the delaying file system; its rows need it
  int fuseRuns = 1;      // runs over it (each cold by design: no warm-up)
  std::string baseline;  // an earlier build, for the one-core row
};

// The runs of one command.
struct Samples {
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;
  std::vector<double> maxRssKiB;
};

// One side-by-side comparison of Plinkard with a reference command.
struct Comparison {
  std::string name;
  Command plinkard;
  Command reference;
  double target;                  // the largest acceptable median ratio
  std::function<void()> prepare;  // before every run, not timed
  double scale = 1;               // the ratios are multiplied by this
  int runs = 0;                   // instead of --runs, when set
  bool warmUp = true;
  int busyLoops = 0;  // processes that spin beside both commands throughout
  // Make the data it runs on, where that is missing (each is made once).
  std::vector<std::function<bool()>> data;
  Samples plinkardSamples;
  Samples referenceSamples;
  std::vector<double> ratios;     // of the wall times, pair by pair
  std::vector<double> cpuRatios;  // of the user + system times
};

// The median of `values` (the mean of the middle two for an even count).
double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  return (values[middle - 1] + values[middle]) / 2;
}

// Runs `command` with standard input, output and error on /dev/null.
bool record(const Command& command, Samples& samples) {
  ChildOptions options;
  options.capture = false;
  options.timeoutSeconds = 3600;
  const ChildResult m = runChild(command, options);
  if (m.status != 0) {
    std::fprintf(stderr, "%s exited with status %d\n", command[0].c_str(),
                 m.status);
    return false;
  }
  samples.seconds.push_back(m.seconds);
  samples.cpuSeconds.push_back(m.cpuSeconds);
  samples.maxRssKiB.push_back(double(m.maxRssKiB));
  return true;
}

// `count` child processes that spin until ended: other work on the
// machine, which both commands of a comparison meet alike.
class BusyLoops {
 public:
  explicit BusyLoops(int count) {
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        for (volatile uint64_t spins = 0;; spins = spins + 1) {
        }
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyLoops() {
    for (const pid_t pid : pids_) kill(pid, SIGKILL);
    for (const pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  BusyLoops(const BusyLoops&) = delete;
  BusyLoops& operator=(const BusyLoops&) = delete;

 private:
  std::vector<pid_t> pids_;
};

// Runs the pair `runs` times after one warm-up pair, alternating which
// command goes first, so both see the same page cache.
bool measure(Comparison& c, int runs) {
  std::fprintf(stderr, "%s (plinkard/reference):", c.name.c_str());
  const BusyLoops busy(c.busyLoops);
  Samples warmUp;
  if (c.runs > 0) runs = c.runs;
  for (int i = c.warmUp ? -1 : 0; i < runs; ++i) {
    const bool plinkardFirst = i % 2 == 0;
    for (int side = 0; side < 2; ++side) {
      const bool isPlinkard = (side == 0) == plinkardFirst;
      Samples& samples = i < 0        ? warmUp
                         : isPlinkard ? c.plinkardSamples
                                      : c.referenceSamples;
      if (c.prepare) c.prepare();
      if (!record(isPlinkard ? c.plinkard : c.reference, samples)) {
        return false;
      }
    }
    if (i < 0) continue;
    const double p = c.plinkardSamples.seconds.back();
    const double r = c.referenceSamples.seconds.back();
    std::fprintf(stderr, " %.3f/%.3f", p, r);
    c.ratios.push_back(p / r * c.scale);
    c.cpuRatios.push_back(c.plinkardSamples.cpuSeconds.back() /
                          c.referenceSamples.cpuSeconds.back() * c.scale);
  }
  std::fprintf(stderr, "\n");
  return true;
}

Comparison compare(const std::string& name, Command plinkard, Command reference,
                   double target, std::function<void()> prepare = nullptr,
                   double scale = 1) {
  Comparison c;
  c.name = name;
  c.plinkard = std::move(plinkard);
  c.reference = std::move(reference);
  c.target = target;
  c.prepare = std::move(prepare);
  c.scale = scale;
  return c;
}

Comparison needing(Comparison c, std::vector<std::function<bool()>> data) {
  c.data = std::move(data);
  return c;
}

bool makeData(const Comparison& c) {
  return std::all_of(c.data.begin(), c.data.end(),
                     [](const std::function<bool()>& make) { return make(); });
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

void printComparison(const Comparison& c) {
  const double ratio = median(c.ratios);
  const auto [least, most] =
      std::minmax_element(c.ratios.begin(), c.ratios.end());
  std::printf("%-34s %7.3f s %7.3f s %6.3f  <= %.2f %-6s  %6.3f  %.3f-%.3f\n",
              c.name.c_str(), median(c.plinkardSamples.seconds),
              median(c.referenceSamples.seconds), ratio, c.target,
              verdict(ratio <= c.target), median(c.cpuRatios),
              c.ratios.empty() ? 0 : *least, c.ratios.empty() ? 0 : *most);
}

// Empties `dir` and flushes the page cache's dirty pages, so that each
// copy starts from the same state.
void emptyFolder(const std::string& dir) {
  removeTree(dir);
  mkdir(dir.c_str(), 0755);
  sync();
}

bool enoughRoom(const std::string& dir) {
  struct statvfs fs;
  if (statvfs(dir.c_str(), &fs) != 0) return true;
  const double freeGiB = double(fs.f_bavail) * fs.f_frsize / (1 << 30);
  const double freeInodes = double(fs.f_favail);
  if (freeGiB >= 3 && freeInodes >= 1.8e6) return true;
  std::fprintf(stderr,
               "%s has %.1f GiB and %.0f inodes free; the benchmark data "
               "needs about 3 GiB and 1.8 million inodes.\n",
               dir.c_str(), freeGiB, freeInodes);
  return false;
}

bool parse(int argc, char** argv, Settings& s) {
  if (const char* data = std::getenv("PLINKARD_BENCH_DATA")) s.data = data;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--plinkard") {
      s.plinkard = value;
    } else if (option == "--data") {
      s.data = value;
    } else if (option == "--runs") {
      s.runs = std::atoi(value.c_str());
    } else if (option == "--only") {
      s.only = value;
    } else if (option == "--delay-fs") {
      s.delayFs = value;
    } else if (option == "--fuse-runs") {
      s.fuseRuns = std::atoi(value.c_str());
    } else if (option == "--baseline") {
      s.baseline = value;
    } else {
      return false;
    }
  }
  return !s.plinkard.empty() && s.runs > 0 && argc % 2 == 1;
}

Command plinkardRun(const Settings& s, const std::string& lib,
                    const std::string& out, const std::string& megabytes) {
  return {s.plinkard, "-i", lib, "-o", out, "-s", megabytes};
}

Command findRun(const std::string& lib) {
  return {"find", lib, "-type", "f", "-name", "*.mp3", "-printf", "%s\\n"};
}

// Writes back dirty pages and drops the page, dentry and inode caches, so
// that the next run reads everything from the disk (root only).
void dropCaches() {
  sync();
  FILE* drop = std::fopen("/proc/sys/vm/drop_caches", "w");
  if (drop == nullptr || std::fputs("3\n", drop) < 0 ||
      std::fclose(drop) != 0) {
    std::fprintf(stderr, "cannot drop the page cache (root only)\n");
    std::exit(1);
  }
}

// The delaying file system mounted at `mountPoint` while this lives:
// started in the foreground as a child, unmounted and waited for at the
// end, also on an interrupt of the benchmark.
class DelayMount {
 public:
  DelayMount(const Settings& s, const std::string& source,
             const std::string& mountPoint, long delayMicros)
      : mountPoint_(mountPoint) {
    mkdir(mountPoint.c_str(), 0755);
    ChildOptions options;
    options.capture = false;
    options.timeoutSeconds = 24 * 3600;
    child_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{s.delayFs, source, mountPoint, "--delay-us",
                                 std::to_string(delayMicros)},
        options);
    active = this;
    for (int i = 0; i < 100 && !mounted(); ++i) usleep(100000);
  }
  ~DelayMount() {
    unmount();
    active = nullptr;
  }
  DelayMount(const DelayMount&) = delete;
  DelayMount& operator=(const DelayMount&) = delete;

  bool mounted() const {
    struct statfs fs;
    return statfs(mountPoint_.c_str(), &fs) == 0 && fs.f_type == 0x65735546;
  }

  // For the signal handler: detach the mount and end the child.
  static void abandon(int) {
    if (active != nullptr) {
      umount2(active->mountPoint_.c_str(), MNT_DETACH);
      kill(active->child_->pid(), SIGTERM);
    }
    _exit(130);
  }

 private:
  void unmount() {
    if (mounted()) {
      runChild({"fusermount3", "-u", mountPoint_});
      if (mounted()) umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    if (child_->running()) kill(child_->pid(), SIGTERM);
    child_->wait();
    rmdir(mountPoint_.c_str());
  }

  static DelayMount* active;
  std::string mountPoint_;
  std::unique_ptr<ChildProcess> child_;
};

DelayMount* DelayMount::active = nullptr;

// Compares the two commands that `pair` makes for the mount point of the
// delaying file system over `lib`.
bool compareOverDelay(
    const Settings& s, const std::string& lib,
    const std::function<bool()>& makeLib, long delayMicros,
    const std::string& name, double target,
    const std::function<std::pair<Command, Command>(const std::string&)>&
        pair) {
  if (name.find(s.only) == std::string::npos) return true;
  if (s.delayFs.empty()) {
    std::printf("%-34s skipped: no --delay-fs\n", name.c_str());
    return true;
  }
  if (!makeLib()) return false;
  const std::string mountPoint = s.data + "/delay-mount";
  const DelayMount mount(s, lib, mountPoint, delayMicros);
  if (!mount.mounted()) {
    std::fprintf(stderr, "%s did not mount at %s\n", s.delayFs.c_str(),
                 mountPoint.c_str());
    return false;
  }
  auto [plinkard, reference] = pair(mountPoint);
  Comparison c = compare(name, plinkard, reference, target);
  c.runs = s.fuseRuns;
  c.warmUp = false;
  if (!measure(c, s.fuseRuns)) return false;
  printComparison(c);
  return true;
}

// A run with its song cache below `cacheHome` ("" for none), filling
// MINUTES of playing time, dry.
Command taggedRun(const Settings& s, const std::string& cacheHome,
                  const std::string& lib, const std::string& out) {
  return {
      "env",
      cacheHome.empty() ? "PLINKARD_NO_CACHE=1" : "XDG_CACHE_HOME=" + cacheHome,
      s.plinkard,
      "-i",
      lib,
      "-o",
      out,
      "-s",
      "1",
      "-t",
      "10",
      "-n"};
}

// Prints the peak memory a song of `runs` takes over that of `empty`.
void printMemoryPerSong(const std::string& name, const Samples& runs,
                        const Samples& empty, double limit) {
  const double net = median(runs.maxRssKiB) - median(empty.maxRssKiB);
  const double perSong = net * 1024 / 1e6;
  std::printf("%s: %.0f bytes (%.0f KiB - %.0f KiB empty)  <= %.0f  %s\n",
              name.c_str(), perSong, median(runs.maxRssKiB),
              median(empty.maxRssKiB), limit, verdict(perSong <= limit));
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  if (!parse(argc, argv, s)) {
    std::fprintf(stderr,
                 "Usage: plinkard_bench --plinkard BIN [--data DIR] "
                 "[--runs N] [--only NAME] [--delay-fs BIN] [--fuse-runs N] "
                 "[--baseline BIN]\n");
    return 2;
  }
  const std::string& d = s.data;
  mkdir(d.c_str(), 0755);
  const std::string lib20k = d + "/lib-20k", lib200k = d + "/lib-200k",
                    lib1m = d + "/lib-1m", copyLib = d + "/copy-lib",
                    used = d + "/used-100k.txt", albums = d + "/albums-80k",
                    empty = d + "/empty", out = d + "/out",
                    copyOut = d + "/copy-out", player = d + "/player-20k",
                    tagged1m = d + "/tags-1m", tagged20k = d + "/tags-20k",
                    tagCache = d + "/tag-cache";
  // The runs' output folder starts empty: what earlier benches left there
  // would be looked up by every run, and taken for songs already copied.
  emptyFolder(out);
  // Each library is made the first time a comparison that runs needs it,
  // and reused afterwards; only the two large ones need the room checked.
  const auto roomFor = [&](const std::string& lib) {
    return access((lib + "/.plinkard-bench").c_str(), F_OK) == 0 ||
           enoughRoom(d);
  };
  const std::function<bool()> songs20k = [&] {
    return makeSongLibrary(lib20k, 20000, 20);
  };
  const std::function<bool()> songs200k = [&] {
    return makeSongLibrary(lib200k, 200000, 200);
  };
  const std::function<bool()> songs1m = [&] {
    return roomFor(lib1m) && makeSongLibrary(lib1m, 1000000, 1000);
  };
  const std::function<bool()> tags1m = [&] {
    return roomFor(tagged1m) && makeTaggedLibrary(tagged1m, 1000000, 1001);
  };
  const std::function<bool()> tags20k = [&] {
    return makeTaggedLibrary(tagged20k, 20000, 21);
  };
  const std::function<bool()> albums80k = [&] {
    return roomFor(albums) && makeAlbumLibrary(albums, 80000, 80);
  };
  const std::function<bool()> copySongs = [&] {
    return makeCopyLibrary(copyLib, 100, 10 << 20);
  };
  const std::function<bool()> usedList = [&] {
    return makeUsedList(used, 100000);
  };
  const std::string flacLib = d + "/flac-40", convertOut = d + "/convert-out";
  const std::function<bool()> flacSongs = [&] {
    return makeFlacLibrary(flacLib, 40, 30);
  };
  const std::function<bool()> player20k = [&] {
    return makePlayer(player, 20000, 20);
  };
  mkdir(empty.c_str(), 0755);
  mkdir(out.c_str(), 0755);

  // The move's source lies on another file system than its target, as a
  // library and a player do, so that mv copies too.
  const std::string moveFrom = "/dev/shm/plinkard-bench-move",
                    moveOut = d + "/move-out";

  Command filtered = {"-l",  used,         "-in", "\\.mp3$",
                      "-ex", "album0[37]", "-d",  "2"};
  Command copyAndSync = {"sh", "-c", "cp \"$0\"/*.mp3 \"$1\"/ && sync", copyLib,
                         copyOut};
  Command moveAndSync = {"sh", "-c", "mv \"$0\"/*.mp3 \"$1\"/ && sync",
                         moveFrom, moveOut};
  // A dry run of 4000 MB plans about 570 songs; -a plans whole albums.
  Command wholeAlbums = plinkardRun(s, albums, out, "4000");
  wholeAlbums.emplace_back("-n");
  Command singleSongs = wholeAlbums;
  wholeAlbums.emplace_back("-a");
  // Every FLAC song to MP3 at 192 kbit/s; the reference runs the ffmpeg
  // command once per song, one after another, with the same encoder.
  Command convert = plinkardRun(s, flacLib, convertOut, "100000");
  for (const char* arg : {"-f", "flac", "-c", "mp3:192"}) {
    convert.emplace_back(arg);
  }
  Command ffmpegEach = {
      "sh", "-c",
      "for f in \"$0\"/*.flac; do n=${f##*/}; ffmpeg -v error -nostdin -i "
      "\"$f\" -c:a libmp3lame -b:a 192k \"$1/${n%.flac}.mp3\" || exit 1; "
      "done",
      flacLib, convertOut};
  Command move = plinkardRun(s, moveFrom, moveOut, "1024");
  move.emplace_back("-m");
  const auto prepareMove = [&] {
    copyFolder(copyLib, moveFrom);
    emptyFolder(moveOut);
  };

  std::vector<Comparison> comparisons = {
      needing(
          compare("run, 200,000 songs (find)",
                  plinkardRun(s, lib200k, out, "1"), findRun(lib200k), 0.55),
          {songs200k}),
      needing(compare("run, 1,000,000 songs (find)",
                      plinkardRun(s, lib1m, out, "1"), findRun(lib1m), 1.05),
              {songs1m}),
      needing(
          compare("run into 20,000, 200,000 (find)",
                  plinkardRun(s, lib200k, player, "1"), findRun(lib200k), 1.05),
          {songs200k, player20k}),
      needing(compare("run into 20,000, 1,000,000 (find)",
                      plinkardRun(s, lib1m, player, "1"), findRun(lib1m), 1.05),
              {songs1m, player20k}),
      needing(compare("filtered run, 1,000,000 (find)",
                      plinkardRun(s, lib1m, out, "1"), findRun(lib1m), 1.5),
              {songs1m, usedList}),
      needing(compare("copy 1000 MiB (cp, sync)",
                      plinkardRun(s, copyLib, copyOut, "1024"), copyAndSync,
                      1.05, [&] { emptyFolder(copyOut); }),
              {copySongs}),
      needing(compare("move 1000 MiB (mv, sync)", move, moveAndSync, 1.05,
                      prepareMove),
              {copySongs}),
      needing(compare("convert 40 FLAC to MP3 (ffmpeg)", convert, ffmpegEach,
                      0.6, [&] { emptyFolder(convertOut); }),
              {flacSongs}),
      needing(compare("albums, 1,000,000 in 80,000 (-a)", wholeAlbums,
                      singleSongs, 1.1),
              {albums80k}),
      // Time per song at 1,000,000 over time per song at 200,000.
      needing(compare("per song, 1,000,000 / 200,000",
                      plinkardRun(s, lib1m, out, "1"),
                      plinkardRun(s, lib200k, out, "1"), 1.15, nullptr, 0.2),
              {songs1m, songs200k}),
  };
  // Every tag from the cache (the warm-up run fills it, untimed) beside a
  // plain run over the same songs.
  const size_t tagsRow = comparisons.size();
  Command plain = plinkardRun(s, tagged1m, out, "1");
  plain.emplace_back("-n");
  comparisons.push_back(
      needing(compare("-t, tags cached, 1,000,000 (plain)",
                      taggedRun(s, tagCache, tagged1m, out), plain, 1.3),
              {tags1m}));
  comparisons[4].plinkard.insert(comparisons[4].plinkard.end(),
                                 filtered.begin(), filtered.end());
  Comparison cold = needing(
      compare("cold disk, 200,000 (find)", plinkardRun(s, lib200k, out, "1"),
              findRun(lib200k), 0.5, dropCaches),
      {songs200k});
  cold.warmUp = false;
  comparisons.push_back(cold);
  // The warm and the cold run again, with two processes spinning beside
  // them: what the scan's threads bring on a machine that is not idle.
  Comparison busyWarm = comparisons[0];
  busyWarm.name = "run, 200,000, 2 busy loops (find)";
  busyWarm.target = 0.7;
  busyWarm.busyLoops = 2;
  comparisons.push_back(busyWarm);
  Comparison busyCold = cold;
  busyCold.name = "cold disk, 200,000, 2 busy loops";
  busyCold.target = 0.7;
  busyCold.busyLoops = 2;
  comparisons.push_back(busyCold);
  // Both pinned to one processor: no thread of the scan can help there.
  const Command pinned = {"taskset", "-c", "0"};
  Command pinnedRun = pinned, pinnedFind = pinned;
  for (const std::string& arg : plinkardRun(s, lib200k, out, "1")) {
    pinnedRun.push_back(arg);
  }
  for (const std::string& arg : findRun(lib200k)) pinnedFind.push_back(arg);
  comparisons.push_back(
      needing(compare("one core, 200,000 (find)", pinnedRun, pinnedFind, 0.9),
              {songs200k}));
  if (!s.baseline.empty()) {
    Command earlier = pinned;
    for (const std::string& arg : plinkardRun(s, lib200k, out, "1")) {
      earlier.push_back(arg == s.plinkard ? s.baseline : arg);
    }
    comparisons.push_back(needing(
        compare("one core, 200,000 (baseline)", pinnedRun, earlier, 1.0),
        {songs200k}));
  }

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("%-34s %9s %9s %6s  %-13s %s  %s\n",
              "comparison (median of runs)", "plinkard", "reference", "ratio",
              "target", "cpu ratio", "spread");
  for (Comparison& c : comparisons) {
    if (c.name.find(s.only) == std::string::npos) continue;
    if (!makeData(c) || !measure(c, s.runs)) return 1;
    printComparison(c);
  }

  for (const Comparison& c : comparisons) {
    if (c.name.rfind("convert", 0) != 0 || c.plinkardSamples.seconds.empty()) {
      continue;
    }
    const double peakMiB = median(c.plinkardSamples.maxRssKiB) / 1024;
    std::printf("peak memory converting: %.0f MiB  <= 200  %s\n", peakMiB,
                verdict(peakMiB <= 200));
  }

  removeTree(moveFrom);
  std::signal(SIGINT, DelayMount::abandon);
  std::signal(SIGTERM, DelayMount::abandon);
  const auto plinkardAndFind = [&](const std::string& mountPoint) {
    return std::make_pair(plinkardRun(s, mountPoint, out, "1"),
                          findRun(mountPoint));
  };
  // The heads of the same songs read one after another.
  const auto taggedAndHeads = [&](const std::string& mountPoint) {
    return std::make_pair(taggedRun(s, "", mountPoint, out),
                          Command{"find", mountPoint, "-name", "*.mp3", "-exec",
                                  "head", "-c", "65536", "{}", "+"});
  };
  if (!compareOverDelay(s, lib20k, songs20k, 500,
                        "over 0.5 ms FUSE, 20,000 (find)", 0.03,
                        plinkardAndFind) ||
      !compareOverDelay(s, lib20k, songs20k, 2000,
                        "over 2 ms FUSE, 20,000 (find)", 0.03,
                        plinkardAndFind) ||
      !compareOverDelay(s, lib200k, songs200k, 500,
                        "over 0.5 ms FUSE, 200,000 (find)", 0.15,
                        plinkardAndFind) ||
      !compareOverDelay(s, tagged20k, tags20k, 500,
                        "first -t over 0.5 ms FUSE, 20,000 (head)", 0.15,
                        taggedAndHeads)) {
    return 1;
  }
  const Comparison& large = comparisons[1];
  const Comparison& tagged = comparisons[tagsRow];
  if (large.plinkardSamples.seconds.empty() &&
      tagged.plinkardSamples.seconds.empty()) {
    return 0;
  }
  Samples emptyRuns;
  for (int i = 0; i < s.runs; ++i) {
    if (!record(plinkardRun(s, empty, out, "1"), emptyRuns)) return 1;
  }
  if (!large.plinkardSamples.seconds.empty()) {
    printMemoryPerSong("peak memory per song at 1,000,000",
                       large.plinkardSamples, emptyRuns, 320);
  }
  if (!tagged.plinkardSamples.seconds.empty()) {
    printMemoryPerSong("peak memory per song, tags cached, 1,000,000",
                       tagged.plinkardSamples, emptyRuns, 600);
    printMemoryPerSong("peak memory per song, plain, 1,000,000 tagged",
                       tagged.referenceSamples, emptyRuns, 320);
  }
  return 0;
}
