#include <algorithm>
#include <unordered_set>

#include "index/fat_names.h"
#include "job/fill_job.h"
#include "job/paths.h"
#include "os/files_below.h"
#include "os/signals.h"
#include "record/record.h"

namespace {

using Kind = os::FileStatus::Kind;

// Whether `name` is a path below the output folder that a playlist may
// have: no empty, "." or ".." element, not the record's own name in any
// case.
bool playlistNameIsValid(const std::string& name) {
  if (!validRecordPath(name)) return false;
  std::string first = name.substr(0, name.find('/'));
  for (char& c : first) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  }
  return first != kRecordName;
}

uint64_t roundUp(uint64_t bytes, uint64_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

// The songs of earlier fills that a run with -r takes away, and what it
// tells about each.
class Removal {
 public:
  explicit Removal(FillJob& job) : job_(job), record_(job.record.entries) {}

  // Goes through the recorded songs, then the recorded folders; keeps in
  // the record what stays Plinkard's. False when the output folder went
  // away.
  bool run() {
    std::vector<RecordedSong> staying;
    size_t next = 0;
    for (; next < record_.songs.size(); ++next) {
      if (os::interruptSignal() != 0) {
        job_.reportInterrupt();
        break;
      }
      if (!job_.outputFolder.reachedBy(job_.outputDir.native())) {
        job_.printLine("The output directory ", job_.outputDir.native(),
                       " is gone (unmounted or replaced); no further song is "
                       "removed.");
        gone_ = true;
        break;
      }
      if (stays(record_.songs[next])) staying.push_back(record_.songs[next]);
      if (volumeLost_) {
        job_.printLine("The output directory ", job_.outputDir.native(),
                       " can't be written any more; no further song is "
                       "removed.");
        ++next;
        break;
      }
    }
    const bool all = next == record_.songs.size() && !volumeLost_;
    // What was not looked at stays as it was.
    staying.insert(staying.end(),
                   record_.songs.begin() + static_cast<std::ptrdiff_t>(next),
                   record_.songs.end());
    if (!job_.bDryRun) record_.songs = std::move(staying);
    printCount();
    if (all) removeFolders();
    return !gone_;
  }

  // The bytes that the removals of a dry run would free.
  uint64_t freed() const { return freed_; }

 private:
  // Removes one song when it was copied and is unchanged; whether the record
  // keeps it.
  bool stays(const RecordedSong& song) {
    const std::string shown = joinPath(job_.outputDir.native(), song.path);
    const auto unchanged = [&](const os::FileStatus& now) {
      return !song.moved && unchangedSince(song, now);
    };
    os::FileStatus now;
    bool removed = false;
    const std::error_code error =
        job_.bDryRun ? os::statusBelow(job_.outputFolder, song.path, now)
                     : os::removeFileBelowIf(job_.outputFolder, song.path,
                                             unchanged, now, removed);
    if (error) {
      job_.printLine(job_.bDryRun ? "Can't look at " : "Can't remove ", shown,
                     ": ", error.message());
      ++job_.record.failures;
      ++failed_;
      volumeLost_ = os::affectsWholeVolume(error);
      return true;
    }
    if (removed ||
        (job_.bDryRun && now.kind == Kind::RegularFile && unchanged(now))) {
      job_.printLine(job_.bDryRun ? "Would remove " : "Removed ", shown);
      ++removed_;
      if (job_.bDryRun) {
        job_.record.dryRunRemovals.insert(song.path);
        freed_ += roundUp(now.size, job_.targetVolume.allocationUnit);
      }
      return false;
    }
    if (now.kind == Kind::Missing) {
      if (job_.bVerbose) job_.printLine("Gone already: ", shown);
      return false;
    }
    ++kept_;
    job_.printLine(job_.bDryRun ? "Would keep " : "Kept ", shown, ": ",
                   whyKept(song, now));
    return song.moved && unchangedSince(song, now);
  }

  std::string whyKept(const RecordedSong& song,
                      const os::FileStatus& now) const {
    if (now.kind != Kind::RegularFile) {
      return "a link, a folder or another special file stands there";
    }
    if (now.size != song.size) {
      return "its size changed since it was copied" + detail(song, now);
    }
    if (!unchangedSince(song, now)) {
      return "it was modified since it was copied" + detail(song, now);
    }
    return "moved here, it is the only copy";
  }

  // With -v: the size and time recorded and found.
  std::string detail(const RecordedSong& song,
                     const os::FileStatus& now) const {
    if (!job_.bVerbose) return "";
    const auto text = [](uint64_t size, const os::FileTime& time) {
      return std::to_string(size) + " bytes, time " +
             std::to_string(time.seconds);
    };
    return " (now " + text(now.size, now.modified) + "; when copied " +
           text(song.size, song.modified) + ")";
  }

  void printCount() const {
    if (job_.bDryRun) {
      job_.printLine("Songs of earlier fills: ", removed_,
                     " would be removed, ", kept_, " kept.");
      return;
    }
    job_.printLine("Songs of earlier fills: ", removed_, " removed, ", kept_,
                   " kept, ", failed_, " could not be removed.");
  }

  // Removes each recorded folder that is empty now, the deepest first; a
  // folder that is gone or no folder any more leaves the record. A dry run
  // leaves them all.
  void removeFolders() {
    if (job_.bDryRun) return;
    std::vector<std::string> folders = record_.folders;
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::string& a, const std::string& b) {
                       return std::count(a.begin(), a.end(), '/') >
                              std::count(b.begin(), b.end(), '/');
                     });
    std::unordered_set<std::string> staying;
    for (const std::string& folder : folders) {
      const std::string shown = joinPath(job_.outputDir.native(), folder);
      bool removed = false;
      os::FileStatus now;
      std::error_code error =
          os::removeEmptyFolderBelow(job_.outputFolder, folder, removed);
      if (!error && !removed) {
        error = os::statusBelow(job_.outputFolder, folder, now);
      }
      if (error) {
        job_.printLine("Can't remove the folder ", shown, ": ",
                       error.message());
        ++job_.record.failures;
      }
      if (removed) job_.printLine("Removed the folder ", shown);
      if (error || now.kind == Kind::Directory) staying.insert(folder);
    }
    // In the order they were made.
    std::vector<std::string> kept;
    for (const std::string& folder : record_.folders) {
      if (staying.count(folder) != 0) kept.push_back(folder);
    }
    record_.folders = std::move(kept);
  }

  FillJob& job_;
  Record& record_;
  size_t removed_ = 0, kept_ = 0, failed_ = 0;
  uint64_t freed_ = 0;
  bool gone_ = false;
  bool volumeLost_ = false;
};

// Reads the record and tells what of it cannot be used; false when the
// run cannot go on with it.
bool readRecord(FillJob& job, const std::string& shown) {
  RecordFormat format = RecordFormat::Known;
  std::vector<RecordProblem> problems;
  unsigned version = 0;
  if (const std::error_code error =
          job.record.read(job.outputFolder, format, problems, version)) {
    job.printLine("Can't read the record ", shown, ": ", error.message());
    return false;
  }
  if (format == RecordFormat::NotARecord) {
    job.printLine(shown, " is not a record of Plinkard; nothing was removed. ",
                  "Move it away to start a new record.");
    return false;
  }
  if (format == RecordFormat::Newer) {
    job.printLine("The record ", shown, " is of a later Plinkard (format ",
                  version, "); nothing was removed.");
    return false;
  }
  for (const RecordProblem& problem : problems) {
    job.printLine("Ignoring line ", problem.line, " of the record ", shown,
                  ": ", problem.why);
  }
  if (!job.record.found() && job.bReplace) {
    job.printLine("No record of earlier fills in ", job.outputDir.native(),
                  ", nothing to remove.");
  }
  return true;
}

// The fill size after the removals: the free space now, and what a dry
// run's removals would free.
void refreshFillSize(FillJob& job, uint64_t freed, bool removals) {
  os::VolumeInfo volume;
  if (job.outputFolder.volume(volume)) return;
  const uint64_t available = volume.availableBytes + freed;
  job.fillSize = available >> 10;
  if (removals) {
    job.printLine(available >> 20, " MB free on target filesystem",
                  job.bDryRun ? " once the removals are done." : " now.");
  }
}

}  // namespace

int FillJob::keepRecord() {
  if (!keepsRecord()) return 0;
  if (!playlistName.empty()) {
    record.playlistPath = recordPath(
        targetVolume.fatNames ? fatPath(playlistName) : playlistName);
    // The name as typed and as the target holds it.
    if (!playlistNameIsValid(playlistName) ||
        !playlistNameIsValid(record.playlistPath)) {
      printLine("The playlist ", playlistName,
                " must be a file name below the output directory!");
      return 1;
    }
  }
  const std::string shown = joinPath(outputDir.native(), kRecordName);
  if (!outputFolder.held()) {
    printLine("Can't read the record ", shown,
              ": the output directory could not be opened");
    return 1;
  }
  // Another run's songs would go unrecorded (unguarded where locks fail).
  if (record.lock(outputFolder) == std::errc::operation_would_block) {
    printLine("Another run of Plinkard keeps the record ", shown,
              "; nothing was removed. Try again when it has ended.");
    return 1;
  }
  if (bReplace) printLine("Removing the songs of earlier fills...");
  if (!readRecord(*this, shown)) return 1;
  const bool removals = bReplace && record.found();
  Removal removal(*this);
  const bool reached = !removals || removal.run();
  if (!bDryRun) {
    if (const std::error_code error = record.writeAnew(outputFolder)) {
      printLine("Can't write the record ", shown, ": ", error.message());
      return 1;
    }
  }
  if (!reached) return 2;
  if (bFillAll) refreshFillSize(*this, removal.freed(), removals);
  return 0;
}
