#include "os/copy.h"

#include <algorithm>
#include <cerrno>

#include "checksum/content_checksum.h"
#include "convert/song_facts.h"
#include "job/fill_job.h"
#include "job/paths.h"
#include "os/files.h"
#include "os/signals.h"
#include "record/record.h"

namespace {

// The folder part of a target's text: all before its last '/', with the
// '/' itself kept for the root.
std::string folderOf(const std::string& target) {
  const size_t slash = target.rfind('/');
  if (slash == std::string::npos) return "";
  const size_t end = target.find_last_not_of('/', slash);
  return end == std::string::npos ? "/" : target.substr(0, end + 1);
}

// A move flushes its songs in batches of this much data or this many
// songs: one flush for many songs costs about what one for a song does, and
// a batch's sources stay until their songs are on the device.
constexpr uint64_t kMoveBatchBytes = uint64_t{128} << 20;
constexpr size_t kMoveBatchSongs = 64;

// How many moved songs may wait for their flush together: each holds its
// copy open, and the descriptors the run may open bound them.
size_t moveBatchSongs() {
  const size_t limit = os::raiseOpenFileLimit(4 * kMoveBatchSongs);
  return limit > 32 ? std::min(kMoveBatchSongs, (limit - 32) / 2) : 1;
}

// Whether the song at `source` is in `format` already; one that cannot be
// read is not (its conversion will say why).
bool inFormat(const std::string& source, const ConvertFormat& format) {
  SongFacts facts;
  return readSongFacts(source, format, facts).empty() && facts.inFormat;
}

const char kNothingToCopy[] =
    "There are no songs to copy! Did you forget to create an index or to "
    "create a choice?";

}  // namespace

bool FillJob::copyFiles() {
  if (plan.empty()) {
    printLine(kNothingToCopy);
    return false;
  }
  printLine("bMove is ", bMove ? "true" : "false");
  if (bConvert) {
    convertFiles();
    flushTarget();
    return true;
  }
  const size_t batchSongs = bMove ? moveBatchSongs() : 0;
  for (size_t i = 0; i < plan.size() && !targetLost; ++i) {
    if (transferStopped()) break;
    printLine("Copying file ", i + 1, " / ", plan.size(), ": ",
              fileNameOf(songs[plan[i]].sourcePath.native()));
    noteOutcome(plan[i], copySong(plan[i]));
    if (unflushedBytes_ >= kMoveBatchBytes ||
        unflushedMoves_.size() >= batchSongs) {
      completeMoves();
    }
    reportTargetLost();
  }
  completeMoves();
  reportTargetLost();
  flushTarget();
  return true;
}

bool FillJob::transferStopped() {
  if (os::interruptSignal() != 0) {
    reportInterrupt();
    return true;
  }
  if (!outputGone()) return false;
  printLine("The output directory ", outputDir.native(),
            " is gone (unmounted or replaced); no further song is tried.");
  return true;
}

void FillJob::noteOutcome(uint32_t position, CopyOutcome outcome) {
  if (outcome == CopyOutcome::Unflushed) return;
  if (outcome != CopyOutcome::Transferred) {
    printLine("File '", songs[position].sourcePath.native(),
              " could not be copied!");
  }
  if (outcome != CopyOutcome::Failed) transferred.push_back(position);
}

void FillJob::reportTargetLost() {
  if (!targetLost || targetLostReported_) return;
  targetLostReported_ = true;
  printLine("The output directory ", outputDir.native(),
            " can't be written any more (", targetLostBy.message(),
            "); no further song is tried.");
}

void FillJob::completeMoves() {
  if (unflushedMoves_.empty()) return;
  // One flush of the volume writes the whole batch; each song's own flush
  // after it finds little left to do and tells that song's errors.
  (void)outputFolder.syncVolume();
  for (UnflushedMove& move : unflushedMoves_) {
    noteOutcome(move.position, completeMove(songs[move.position], move.copy));
  }
  unflushedMoves_.clear();
  unflushedBytes_ = 0;
}

FillJob::CopyOutcome FillJob::completeMove(const SongEntry& entry,
                                           os::UnflushedCopy& copy) {
  // A moved song must be on the device before its source goes.
  if (const std::error_code error = copy.flush()) {
    reportTargetError(entry.targetPath.native(), error);
    noteTargetError(error);
    return CopyOutcome::Failed;
  }
  if (const std::error_code removed =
          os::removeFile(entry.sourcePath.native())) {
    reportTargetError(entry.targetPath.native(), removed);
    return CopyOutcome::TransferredSourceKept;
  }
  return CopyOutcome::Transferred;
}

void FillJob::flushTarget() const {
  if (transferred.empty() || !outputFolder.held()) return;
  if (const std::error_code error = outputFolder.syncVolume()) {
    printLine("Can't flush the output directory ", outputDir.native(), ": ",
              error.message());
  }
}

void FillJob::noteTargetError(const std::error_code& error) {
  if (targetLost || !os::affectsWholeVolume(error)) return;
  targetLost = true;
  targetLostBy = error;
}

void FillJob::describePlan() const {
  if (plan.empty()) {
    printLine(kNothingToCopy);
    return;
  }
  for (uint32_t position : plan) {
    const SongEntry& song = songs[position];
    printLine(bConvert && !inFormat(song.sourcePath.native(), convertFormat)
                  ? "Would convert "
              : bMove ? "Would move "
                      : "Would copy ",
              song.sourcePath.native(), " to ", song.targetPath.native());
  }
}

std::string FillJob::relativeTarget(const SongEntry& entry) const {
  const std::string& target = entry.targetPath.native();
  // Below the held output folder, so that a song never lands anywhere else.
  const size_t start = relativeStart(outputDir.native(), target);
  return outputFolder.held() && start != std::string::npos
             ? target.substr(start)
             : target;
}

FillJob::CopyOutcome FillJob::copySong(uint32_t position) {
  const SongEntry& entry = songs[position];
  const std::string& target = entry.targetPath.native();
  const std::string relative = relativeTarget(entry);
  os::HeldFolder folder;
  if (!enterTargetFolder(target, relative, folder)) return CopyOutcome::Failed;
  const std::string name(fileNameOf(relative));
  bool exists = false;
  if (const std::error_code error = folder.probe(name.c_str(), exists)) {
    reportTargetError(target, error);
    noteTargetError(error);
    return CopyOutcome::Failed;
  }
  if (exists) {
    printLine("File ", target, " already exists!");
    return CopyOutcome::Failed;
  }
  return transferSong(position, folder, relative);
}

bool FillJob::enterTargetFolder(const std::string& target,
                                const std::string& relative,
                                os::HeldFolder& folder) {
  std::string blocked;
  const std::error_code error = makeFolderOf(relative, folder, blocked);
  if (!error) return true;
  reportFolderError(target, error, blocked);
  return false;
}

std::error_code FillJob::makeFolderOf(const std::string& relative,
                                      os::HeldFolder& folder,
                                      std::string& blocked) {
  std::vector<std::string> created;
  // Without a held output folder, the target's folder must be there.
  const std::error_code error =
      outputFolder.held()
          ? outputFolder.enter(folderOf(relative), true, folder,
                               record.isOpen() ? &created : nullptr, &blocked)
          : folder.hold(folderOf(relative));
  // A folder the record misses is only never removed; the song goes on.
  for (const std::string& made : created) {
    if (const std::error_code failed = record.addFolder(recordPath(made))) {
      printLine("Can't add the folder ", joinPath(outputDir.native(), made),
                " to the record: ", failed.message());
    }
  }
  return error;
}

void FillJob::reportFolderError(const std::string& target,
                                const std::error_code& error,
                                const std::string& blocked) {
  if (error.value() == ENOTDIR) {
    // A file where a folder goes: the song cannot go there.
    reportTargetError(target, error);
  } else if (error.value() == ELOOP) {
    printLine("Can't create directory ", folderOf(target), ": ",
              joinPath(outputDir.native(), blocked),
              " is a link, and no link below the output directory is "
              "followed");
  } else {
    printLine("Can't create directory ", folderOf(target), ": ",
              error.message());
    noteTargetError(error);
  }
}

RecordedSong FillJob::recordedTags(uint32_t position) const {
  RecordedSong song;
  if (position < songTags.size() && songTags[position].known) {
    const SongTags& tags = songTags[position];
    song.playingMs = tags.playingMs;
    song.artist = playlistArtist(tags);
    song.title = tags.title;
  }
  return song;
}

std::error_code FillJob::recordSong(uint32_t position,
                                    const std::string& relative,
                                    const os::FileStatus& landed,
                                    const os::FileEnds& ends) {
  const std::string& target = songs[position].targetPath.native();
  RecordedSong song = recordedTags(position);
  song.path = recordPath(relative);
  song.size = landed.size;
  song.modified = landed.modified;
  song.kind = bMove                               ? RecordedSong::Kind::Moved
              : bReplace || !playlistName.empty() ? RecordedSong::Kind::Copied
                                                  : RecordedSong::Kind::Added;
  song.hasChecksum = true;
  song.checksum = contentChecksum(landed.size, ends.head, ends.tail);
  const std::error_code error = record.addSong(song);
  if (error) {
    printLine("Can't add ", target, " to the record: ", error.message());
  }
  return error;
}

FillJob::CopyOutcome FillJob::transferSong(uint32_t position,
                                           const os::HeldFolder& folder,
                                           const std::string& relative) {
  const SongEntry& entry = songs[position];
  const std::string& source = entry.sourcePath.native();
  os::CopyOptions options;
  options.stop = [] { return os::interruptSignal() != 0; };
  options.keepTimes = bMove;
  // A song that cannot be recorded does not stay: the record must name
  // every song copied there.
  if (record.isOpen()) {
    options.accept = [&](const os::FileStatus& landed,
                         const os::FileEnds& ends) {
      return recordSong(position, relative, landed, ends);
    };
  }
  os::UnflushedCopy unflushed;
  const os::CopyResult copy =
      os::copyFileExclusive(source, folder, std::string(fileNameOf(relative)),
                            options, bMove ? &unflushed : nullptr);
  if (copy.status == os::CopyStatus::Interrupted) {
    reportInterrupt();
    return CopyOutcome::Failed;
  }
  if (copy.status == os::CopyStatus::Failed) {
    reportTargetError(entry.targetPath.native(), copy.error);
    if (copy.targetSide) noteTargetError(copy.error);
    return CopyOutcome::Failed;
  }
  if (bMove) {
    unflushedMoves_.push_back({position, std::move(unflushed)});
    unflushedBytes_ += entry.sizeBytes;
    return CopyOutcome::Unflushed;
  }
  return CopyOutcome::Transferred;
}

void FillJob::reportTargetError(const std::string& target,
                                const std::error_code& error) const {
  printLine("Can't check whether ", target, " exists: ", error.message());
}
