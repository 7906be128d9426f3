#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_set>

#include "checksum/content_checksum.h"
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

// The last element of a path below the output folder.
std::string_view nameOf(std::string_view path) {
  return path.substr(path.rfind('/') + 1);
}

// The files that a removal never takes, whatever the record says: this
// run's used-songs list, the record and the playlist (by what they are),
// and every file of the program's own (by name).
class OwnFiles {
 public:
  explicit OwnFiles(const FillJob& job) {
    os::FileId id;
    if (job.bWriteUsedList &&
        !os::identifyPath(absoluteForm(job.usedListPath), id)) {
      list_ = id;
      hasList_ = true;
    }
    for (const std::string& path :
         {std::string(kRecordName), job.record.playlistPath}) {
      os::FileStatus status;
      if (!path.empty() && !os::statusBelow(job.outputFolder, path, status) &&
          status.kind != Kind::Missing) {
        own_.push_back(status.id);
      }
    }
  }

  // Why the file at `path`, now `status`, is never removed, or nullptr.
  const char* why(const std::string& path, const os::FileStatus& status) const {
    if (hasList_ && status.id == list_) {
      return "it is the used-songs list of this run";
    }
    if (ownFileName(nameOf(path)) ||
        std::find(own_.begin(), own_.end(), status.id) != own_.end()) {
      return "it is the record, the playlist or another file of Plinkard's";
    }
    return nullptr;
  }

 private:
  bool hasList_ = false;
  os::FileId list_;
  std::vector<os::FileId> own_;
};

std::string hex(uint64_t value) {
  char text[17];
  snprintf(text, sizeof text, "%016llx",
           static_cast<unsigned long long>(value));
  return text;
}

// The songs of earlier fills that a run with -r takes away, and what it
// tells about each.
class Removal {
 public:
  explicit Removal(FillJob& job)
      : job_(job), record_(job.record.entries), own_(job) {}

  // Looks at every recorded song, then removes the copied ones that are
  // unchanged and the recorded folders then empty; keeps in the record what
  // stays Plinkard's. False when the output folder went away.
  bool run() {
    std::vector<os::FileStatus> found;
    size_t next = lookAtAll(found);
    std::vector<RecordedSong> staying;
    if (next == record_.songs.size()) {
      next = 0;
      for (; next < record_.songs.size(); ++next) {
        if (stopped()) break;
        if (twin_[next]) continue;
        if (stays(record_.songs[next], found[next], lookErrors_[next])) {
          staying.push_back(record_.songs[next]);
        }
        if (volumeLost_) {
          job_.printLine("The output directory ", job_.outputDir.native(),
                         " can't be written any more; no further song is "
                         "removed.");
          ++next;
          break;
        }
      }
    } else {
      next = 0;
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
  // Whether the run stops here: an interrupt, or the output folder gone.
  bool stopped() {
    if (os::interruptSignal() != 0) {
      job_.reportInterrupt();
      return true;
    }
    if (job_.outputGone()) {
      job_.printLine("The output directory ", job_.outputDir.native(),
                     " is gone (unmounted or replaced); no further song is "
                     "removed.");
      gone_ = true;
      return true;
    }
    return false;
  }

  // Looks at what stands at each recorded path, putting back first a song
  // that a stopped run left aside, and marks in twin_ the lines that name
  // the same file as a later line (letter-case twins on FAT): the later
  // line tells what the file is. Returns how many songs it looked at.
  size_t lookAtAll(std::vector<os::FileStatus>& found) {
    found.resize(record_.songs.size());
    lookErrors_.resize(record_.songs.size());
    twin_.assign(record_.songs.size(), false);
    std::map<os::FileId, size_t> lastOf;
    for (size_t i = 0; i < record_.songs.size(); ++i) {
      if (stopped()) return i;
      const std::string& path = record_.songs[i].path;
      std::error_code error =
          os::statusBelow(job_.outputFolder, path, found[i]);
      if (!error && found[i].kind == Kind::Missing && !job_.bDryRun) {
        bool given = false;
        error = os::putBackLeftAside(job_.outputFolder, path, given);
        if (given) {
          job_.printLine("Put back ", shown(path),
                         ", which a stopped run had left aside");
          error = os::statusBelow(job_.outputFolder, path, found[i]);
        }
      }
      // A failed look is told when the song is judged.
      lookErrors_[i] = error;
      if (error || found[i].kind != Kind::RegularFile) continue;
      const auto entry = lastOf.emplace(found[i].id, i);
      if (!entry.second) {
        twin_[entry.first->second] = true;
        if (job_.bVerbose) {
          job_.printLine("The same file as a later line of the record: ",
                         shown(record_.songs[entry.first->second].path));
        }
        entry.first->second = i;
      }
    }
    return record_.songs.size();
  }

  std::string shown(const std::string& path) const {
    return joinPath(job_.outputDir.native(), path);
  }

  // Judges one song, removing it when it was copied and is unchanged;
  // whether the record keeps it.
  bool stays(const RecordedSong& song, const os::FileStatus& now,
             const std::error_code& lookError) {
    if (lookError) return cannot(song, lookError);
    if (now.kind == Kind::Missing) {
      if (job_.bVerbose) job_.printLine("Gone already: ", shown(song.path));
      return false;
    }
    const char* why = whyKept(song, now);
    if (why == nullptr) return remove(song, now);
    keep(song, why, detail(song, now));
    return !song.removable() && unchangedSince(song, now);
  }

  // Why `song`, found as `now`, stays without a look at its bytes, or
  // nullptr when it may go.
  const char* whyKept(const RecordedSong& song,
                      const os::FileStatus& now) const {
    if (now.kind != Kind::RegularFile) {
      return "a link, a folder or another special file stands there";
    }
    if (const char* own = own_.why(song.path, now)) return own;
    if (now.size != song.size) {
      return "its size changed since it was copied";
    }
    if (!unchangedSince(song, now)) {
      return "it was modified since it was copied";
    }
    if (song.kind == RecordedSong::Kind::Moved) {
      return "moved here, it is the only copy";
    }
    if (song.kind == RecordedSong::Kind::Added) {
      return "copied here by a run without -r or -p";
    }
    return nullptr;
  }

  void keep(const RecordedSong& song, const std::string& why,
            const std::string& detail) {
    ++kept_;
    job_.printLine(job_.bDryRun ? "Would keep " : "Kept ", shown(song.path),
                   ": ", why, detail);
  }

  bool cannot(const RecordedSong& song, const std::error_code& error) {
    job_.printLine(job_.bDryRun ? "Can't look at " : "Can't remove ",
                   shown(song.path), ": ", error.message());
    ++job_.record.failures;
    ++failed_;
    volumeLost_ = os::affectsWholeVolume(error);
    return true;
  }

  // Whether the bytes of a file are still those recorded.
  bool sameBytes(const RecordedSong& song, const os::FileEnds& ends,
                 uint64_t& now) const {
    if (!song.hasChecksum) return true;
    now = contentChecksum(song.size, ends.head, ends.tail);
    return now == song.checksum;
  }

  // What a dry run says of a copied song that is unchanged by size and
  // time: whether its bytes are too, as the real run would find them.
  bool wouldRemove(const RecordedSong& song, const os::FileStatus& seen) {
    os::FileEnds ends;
    uint64_t checksum = 0;
    os::FileStatus now;
    if (song.hasChecksum) {
      if (const std::error_code error =
              os::readEndsBelow(job_.outputFolder, song.path, now, ends)) {
        return cannot(song, error);
      }
    }
    if (!sameBytes(song, ends, checksum)) return changedBytes(song, checksum);
    job_.printLine("Would remove ", shown(song.path));
    ++removed_;
    job_.record.dryRunRemovals.insert(song.path);
    freed_ += roundUp(seen.size, job_.targetVolume.allocationUnit);
    return false;
  }

  // Removes a copied song that is unchanged by size and time once its
  // bytes are found the same too, looking at the very file it removes.
  bool remove(const RecordedSong& song, const os::FileStatus& seen) {
    if (job_.bDryRun) return wouldRemove(song, seen);
    os::FileAside aside;
    if (const std::error_code error =
            aside.putAside(job_.outputFolder, song.path)) {
      return cannot(song, error);
    }
    const os::FileStatus& now = aside.status();
    // Another file than the one looked at a moment ago: judge that one.
    const char* why = now.id != seen.id ? whyKept(song, now) : nullptr;
    os::FileEnds ends;
    const std::error_code error = why == nullptr && song.hasChecksum
                                      ? aside.readEnds(ends)
                                      : std::error_code();
    uint64_t checksum = 0;
    if (why != nullptr || error || !sameBytes(song, ends, checksum)) {
      putBack(song, aside);
      if (error) return cannot(song, error);
      if (why == nullptr) return changedBytes(song, checksum);
      keep(song, why, detail(song, now));
      return false;
    }
    if (const std::error_code removed = aside.remove()) {
      return cannot(song, removed);
    }
    job_.printLine("Removed ", shown(song.path));
    ++removed_;
    return false;
  }

  bool changedBytes(const RecordedSong& song, uint64_t checksum) {
    keep(song, "its contents changed since it was copied",
         job_.bVerbose ? " (checksum now " + hex(checksum) + "; when copied " +
                             hex(song.checksum) + ")"
                       : "");
    return false;
  }

  // Gives a song put aside its name again; when another file took the name
  // meanwhile, the song stays aside, and says where.
  void putBack(const RecordedSong& song, os::FileAside& aside) {
    if (const std::error_code error = aside.putBack()) {
      const std::string folder =
          song.path.substr(0, song.path.size() - nameOf(song.path).size());
      job_.printLine("Can't give ", shown(song.path), " its name again (",
                     error.message(), "); it is ",
                     shown(folder + aside.asideName()));
      ++job_.record.failures;
    }
  }

  // With -v: the size and time recorded and found.
  std::string detail(const RecordedSong& song,
                     const os::FileStatus& now) const {
    if (!job_.bVerbose || now.kind != Kind::RegularFile ||
        (now.size == song.size && unchangedSince(song, now))) {
      return "";
    }
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
      bool removed = false;
      os::FileStatus now;
      std::error_code error =
          os::removeEmptyFolderBelow(job_.outputFolder, folder, removed);
      if (!error && !removed) {
        error = os::statusBelow(job_.outputFolder, folder, now);
      }
      if (error) {
        job_.printLine("Can't remove the folder ", shown(folder), ": ",
                       error.message());
        ++job_.record.failures;
      }
      if (removed) job_.printLine("Removed the folder ", shown(folder));
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
  OwnFiles own_;
  std::vector<bool> twin_;  // by song: a later line names the same file
  std::vector<std::error_code> lookErrors_;  // by song
  size_t removed_ = 0, kept_ = 0, failed_ = 0;
  uint64_t freed_ = 0;
  bool gone_ = false;
  bool volumeLost_ = false;
};

// Reads the record and tells what of it cannot be used; false, after a
// line that ends in `tail` (and `hint` for a file that is no record), when
// the run cannot go on with it.
bool readRecordOrSay(FillJob& job, const std::string& shown, const char* tail,
                     const char* readTail, const char* hint = "") {
  RecordFormat format = RecordFormat::Known;
  std::vector<RecordProblem> problems;
  unsigned version = 0;
  if (const std::error_code error =
          job.record.read(job.outputFolder, format, problems, version)) {
    job.printLine("Can't read the record ", shown, ": ", error.message(),
                  readTail);
    return false;
  }
  if (format == RecordFormat::NotARecord) {
    job.printLine(shown, " is not a record of Plinkard", tail, hint);
    return false;
  }
  if (format == RecordFormat::Newer) {
    job.printLine("The record ", shown, " is of a later Plinkard (format ",
                  version, ")", tail);
    return false;
  }
  for (const RecordProblem& problem : problems) {
    if (problem.line == 0) {
      job.printLine("Ignoring ", problem.more, " more lines of the record ",
                    shown, " that cannot be used either");
    } else {
      job.printLine("Ignoring line ", problem.line, " of the record ", shown,
                    ": ", problem.why);
    }
  }
  return true;
}

bool readRecord(FillJob& job, const std::string& shown) {
  if (!readRecordOrSay(job, shown, "; nothing was removed.", "",
                       " Move it away to start a new record.")) {
    return false;
  }
  if (!job.record.found() && job.bReplace) {
    job.printLine("No record of earlier fills in ", job.outputDir.native(),
                  ", nothing to remove.");
  }
  return true;
}

// Writes the record anew and opens it for adding; false, after a line that
// ends in `tail` (or names the reason), when it could not be written. A
// record written whose folder could not be flushed is told and counts as a
// failure of the run, which goes on.
bool writeRecordAnew(FillJob& job, const std::string& shown, const char* tail) {
  bool written = false;
  const std::error_code error = job.record.writeAnew(job.outputFolder, written);
  if (!written || !job.record.isOpen()) {
    job.printLine("Can't write the record ", shown, ": ", error.message(),
                  tail);
    return false;
  }
  if (error) {
    job.printLine(
        "The record ", shown,
        " was written, but its folder could not be flushed: ", error.message());
    ++job.record.failures;
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
  if (bReplace || !playlistName.empty()) return keepOwnRecord();
  addToRecordThere();
  return 0;
}

int FillJob::keepOwnRecord() {
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
  // Unguarded, another run's songs would go unrecorded, or this run's.
  if (const std::error_code error = record.lock(outputFolder)) {
    if (error == std::errc::operation_would_block) {
      printLine("Another run of Plinkard keeps the record ", shown,
                "; nothing was removed. Try again when it has ended.");
    } else {
      printLine("Can't lock the output directory ", outputDir.native(), ": ",
                error.message(), "; nothing was removed.");
    }
    return 1;
  }
  if (bReplace) printLine("Removing the songs of earlier fills...");
  if (!readRecord(*this, shown)) return 1;
  const bool removals = bReplace && record.found();
  Removal removal(*this);
  const bool reached = !removals || removal.run();
  if (!bDryRun && !writeRecordAnew(*this, shown, "")) return 1;
  if (!reached) return 2;
  if (bFillAll) refreshFillSize(*this, removal.freed(), removals);
  return 0;
}

void FillJob::addToRecordThere() {
  os::FileStatus there;
  if (bDryRun || !outputFolder.held() ||
      os::statusBelow(outputFolder, kRecordName, there) ||
      there.kind == Kind::Missing) {
    return;
  }
  const std::string shown = joinPath(outputDir.native(), kRecordName);
  const char kLeftAlone[] = "; the songs of this run are not added to it.";
  if (const std::error_code error = record.lock(outputFolder)) {
    if (error == std::errc::operation_would_block) {
      printLine("Another run of Plinkard keeps the record ", shown, kLeftAlone);
    } else {
      printLine("Can't lock the record ", shown, ": ", error.message(),
                kLeftAlone);
    }
    return;
  }
  if (readRecordOrSay(*this, shown, kLeftAlone, kLeftAlone)) {
    writeRecordAnew(*this, shown, kLeftAlone);
  }
}
