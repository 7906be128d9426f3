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

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  }
  return lower;
}

std::string folderPart(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : relative.substr(0, slash);
}

}  // namespace

void FillJob::estimateConvertedSizes() {
  if (!bConvert) return;
  convertedBytes.assign(songs.size(), 0);
  for (uint32_t i = 0; i < songs.size(); ++i) {
    const std::string_view name = fileNameOf(songs[i].sourcePath.native());
    const bool sameName =
        name.size() >= convertFormat.extension.size() &&
        lowerCase(name.substr(name.size() - convertFormat.extension.size())) ==
            convertFormat.extension;
    if (sameName || i >= songTags.size() || songTags[i].playingMs <= 0) {
      continue;
    }
    SongShape shape;
    shape.durationMs = static_cast<uint64_t>(songTags[i].playingMs);
    shape.tagCount = 8;
    shape.tagBytes = songTags[i].tagBytes;
    const uint64_t estimate = estimateConvertedBytes(convertFormat, shape);
    // The estimate was found within 2.1 % of the real size, but for
    // Vorbis of near silence, which comes out smaller.
    convertedBytes[i] = estimate + estimate / 32 + 4096;
  }
}

uint64_t FillJob::targetBytes(uint32_t position) const {
  return position < convertedBytes.size() && convertedBytes[position] != 0
             ? convertedBytes[position]
             : songs[position].sizeBytes;
}

uint32_t FillJob::targetKiB(uint32_t position) const {
  return position < convertedBytes.size() && convertedBytes[position] != 0
             ? static_cast<uint32_t>(std::min<uint64_t>(
                   convertedBytes[position] >> 10, UINT32_MAX))
             : songs[position].sizeKiB;
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
    if (outcome != CopyOutcome::Failed) transferred.push_back(plan[i]);
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
  const std::string& target = entry.targetPath.native();
  const ConvertResult result = queue.next();
  if (result.status == ConvertStatus::Interrupted) {
    reportInterrupt();
    return CopyOutcome::Failed;
  }
  const bool copy = result.status == ConvertStatus::InFormat;
  printLine(copy ? "Copying file " : "Converting file ", index + 1, " / ",
            plan.size(), ": ", fileNameOf(source));
  if (copy) {
    const CopyOutcome outcome = copySong(position);
    if (outcome == CopyOutcome::Failed) {
      printLine("File '", source, " could not be copied!");
    }
    return outcome;
  }
  if (folder.error) {
    reportFolderError(target, folder.error, folder.blocked);
    return CopyOutcome::Failed;
  }
  if (result.status == ConvertStatus::Failed) {
    printLine("File '", source, "' could not be converted: ", result.error);
    if (result.targetSide) noteTargetError(result.systemError);
    return CopyOutcome::Failed;
  }
  return recordConverted(position, relativeTarget(entry));
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
