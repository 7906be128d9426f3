#include <algorithm>
#include <cerrno>

#include "convert/convert_queue.h"
#include "convert/converter.h"
#include "convert/size_estimate.h"
#include "job/fill_job.h"
#include "job/paths.h"
#include "os/files_below.h"
#include "os/signals.h"
#include "record/record.h"

namespace {

// Songs handed to the queue beyond the one whose turn it is: every thread
// busy and as many waiting. Their folders are made then.
size_t songsAhead(size_t threads) { return 2 * threads + 1; }

std::string folderPart(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : relative.substr(0, slash);
}

}  // namespace

void FillJob::estimateConvertedSizes() {
  if (!bConvert) return;
  convertedBytes.assign(songs.size(), 0);
  for (uint32_t i = 0; i < songs.size() && i < songTags.size(); ++i) {
    // By the codec the tags unit found, as the conversion decides by the
    // codec FFmpeg finds: an MP3 named .flac is copied.
    if (songTags[i].codec == convertFormat.codecName ||
        songTags[i].playingMs <= 0) {
      continue;
    }
    SongShape shape;
    shape.durationMs = static_cast<uint64_t>(songTags[i].playingMs);
    shape.tagCount = 8;
    shape.tagBytes = songTags[i].tagBytes;
    convertedBytes[i] = plannedConvertedBytes(convertFormat, shape);
  }
}

uint64_t FillJob::targetBytes(uint32_t position) const {
  return position < convertedBytes.size() && convertedBytes[position] != 0
             ? convertedBytes[position]
             : songs[position].sizeBytes;
}

uint32_t FillJob::targetKiB(uint32_t position) const {
  if (!bConvert) return songs[position].sizeKiB;
  // Whole KiB up, so that a plan within the fill size holds the songs'
  // real bytes, which the transfer holds them to.
  return static_cast<uint32_t>(
      std::min<uint64_t>((targetBytes(position) + 1023) >> 10, UINT32_MAX));
}

bool FillJob::convertFiles() {
  ConvertQueue::Settings settings;
  settings.format = convertFormat;
  settings.stop = [] { return os::interruptSignal() != 0; };
  ConvertQueue queue(outputFolder, settings);
  std::vector<FolderTrouble> folderErrors(plan.size());
  size_t added = 0;
  for (size_t i = 0; i < plan.size() && !targetLost; ++i) {
    for (; added < plan.size() && added <= i + songsAhead(settings.threads);
         ++added) {
      folderErrors[added] = queueConversion(queue, plan[added]);
    }
    if (transferStopped()) break;
    const CopyOutcome outcome = takeConversion(queue, i, folderErrors[i]);
    if (outcome == CopyOutcome::HeldBack) {
      ++heldBack;
    } else if (outcome != CopyOutcome::Failed) {
      transferred.push_back(plan[i]);
    }
    reportTargetLost();
  }
  queue.stop();
  reportTargetLost();
  return true;
}

FillJob::FolderTrouble FillJob::queueConversion(ConvertQueue& queue,
                                                uint32_t position) {
  const SongEntry& entry = songs[position];
  const std::string relative = relativeTarget(entry);
  FolderTrouble trouble;
  os::HeldFolder held;
  trouble.error = makeFolderOf(relative, held, trouble.blocked);
  const std::string folder = folderPart(relative);
  if (!trouble.error && convertFoldersCleared_.insert(folder).second) {
    removeConvertLeftovers(outputFolder, folder);
  }
  queue.add(entry.sourcePath.native(), relative);
  return trouble;
}

FillJob::CopyOutcome FillJob::takeConversion(ConvertQueue& queue, size_t index,
                                             const FolderTrouble& folder) {
  const uint32_t position = plan[index];
  const SongEntry& entry = songs[position];
  const std::string& source = entry.sourcePath.native();
  // Under -s all a converted song is on the target already, only unnamed.
  const ConvertResult result = queue.next([this](const ConvertResult& song) {
    return bFillAll || song.bytes <= roomLeft();
  });
  if (result.status == ConvertStatus::Interrupted) {
    reportInterrupt();
    return CopyOutcome::Failed;
  }
  const bool copy = result.status == ConvertStatus::InFormat;
  printLine(copy ? "Copying file " : "Converting file ", index + 1, " / ",
            plan.size(), ": ", fileNameOf(source));
  if (copy) return copyInFormat(position);
  if (folder.error) {
    reportFolderError(entry.targetPath.native(), folder.error, folder.blocked);
    return CopyOutcome::Failed;
  }
  if (result.status == ConvertStatus::HeldBack || outOfSpace(result)) {
    reportHeldBack(source, result.bytes, true);
    return CopyOutcome::HeldBack;
  }
  if (result.status == ConvertStatus::Failed) {
    printLine("File '", source, "' could not be converted: ", result.error);
    if (result.targetSide) noteTargetError(result.systemError);
    return CopyOutcome::Failed;
  }
  const CopyOutcome outcome = recordConverted(position, relativeTarget(entry));
  if (outcome == CopyOutcome::Transferred) landedBytes_ += result.bytes;
  return outcome;
}

FillJob::CopyOutcome FillJob::copyInFormat(uint32_t position) {
  const std::string& source = songs[position].sourcePath.native();
  const uint64_t bytes = songs[position].sizeBytes;
  if (!songFits(bytes)) {
    reportHeldBack(source, bytes, false);
    return CopyOutcome::HeldBack;
  }
  const CopyOutcome outcome = copySong(position);
  if (outcome == CopyOutcome::Failed) {
    printLine("File '", source, " could not be copied!");
  } else {
    landedBytes_ += bytes;
  }
  return outcome;
}

uint64_t FillJob::roomLeft() const {
  const uint64_t limit =
      fillSize > UINT64_MAX / 1024 ? UINT64_MAX : fillSize * 1024;
  return limit > landedBytes_ ? limit - landedBytes_ : 0;
}

bool FillJob::songFits(uint64_t bytes) const {
  if (!bFillAll) return bytes <= roomLeft();
  os::VolumeInfo volume;
  // A volume that cannot be asked leaves it to the copy to tell.
  if (outputFolder.volume(volume)) return true;
  const uint64_t unit = std::max<uint64_t>(volume.allocationUnit, 1);
  return (bytes + unit - 1) / unit * unit <= volume.availableBytes;
}

bool FillJob::outOfSpace(const ConvertResult& result) const {
  const int error = result.systemError.value();
  return bFillAll && result.status == ConvertStatus::Failed &&
         result.targetSide && (error == ENOSPC || error == EDQUOT);
}

void FillJob::reportHeldBack(const std::string& source, uint64_t bytes,
                             bool converted) const {
  if (bFillAll) {
    printLine("File '", source,
              "' not written: no space left for it on the target");
    return;
  }
  printLine("File '", source,
            "' not written: ", converted ? "converted it" : "it", " takes ",
            bytes, " bytes, more than the ", roomLeft(),
            " bytes left of the fill size");
}

// A converted song that cannot be recorded does not stay: the record must
// name every song put there.
FillJob::CopyOutcome FillJob::recordConverted(uint32_t position,
                                              const std::string& relative) {
  if (!record.isOpen()) return CopyOutcome::Transferred;
  os::FileStatus landed;
  os::FileEnds ends;
  std::error_code error =
      os::readEndsBelow(outputFolder, relative, landed, ends);
  if (!error) error = recordSong(position, relative, landed, ends);
  if (!error) return CopyOutcome::Transferred;
  // Unrecorded, it would never be removed: it goes again, as a copy would.
  os::FileAside aside;
  if (!aside.putAside(outputFolder, relative) &&
      aside.status().id == landed.id) {
    (void)aside.remove();
  }
  return CopyOutcome::Failed;
}
