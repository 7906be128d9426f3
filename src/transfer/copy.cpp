#include "os/copy.h"

#include "job/fill_job.h"
#include "job/paths.h"
#include "os/files.h"
#include "os/signals.h"

namespace {

// The folder part of a target's text: all before its last '/', with the
// '/' itself kept for the root.
std::string folderOf(const std::string& target) {
  const size_t slash = target.rfind('/');
  if (slash == std::string::npos) return "";
  const size_t end = target.find_last_not_of('/', slash);
  return end == std::string::npos ? "/" : target.substr(0, end + 1);
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
  for (size_t i = 0; i < plan.size(); ++i) {
    if (os::interruptSignal() != 0) {
      reportInterrupt();
      break;
    }
    const SongEntry& entry = songs[plan[i]];
    printLine("Copying file ", i + 1, " / ", plan.size(), ": ",
              fileNameOf(entry.sourcePath.native()));
    const CopyOutcome outcome = copySong(entry);
    if (outcome != CopyOutcome::Transferred) {
      printLine("File '", entry.sourcePath.native(), " could not be copied!");
    }
    if (outcome != CopyOutcome::Failed) transferred.push_back(plan[i]);
  }
  return true;
}

void FillJob::describePlan() const {
  if (plan.empty()) {
    printLine(kNothingToCopy);
    return;
  }
  for (uint32_t position : plan) {
    const SongEntry& song = songs[position];
    printLine(bMove ? "Would move " : "Would copy ", song.sourcePath.native(),
              " to ", song.targetPath.native());
  }
}

FillJob::CopyOutcome FillJob::copySong(const SongEntry& entry) {
  const std::string& source = entry.sourcePath.native();
  const std::string& target = entry.targetPath.native();
  const std::string folder = folderOf(target);
  if (!folder.empty()) {
    if (const std::error_code error = os::createMissingFolders(folder)) {
      printLine("Can't create directory ", folder, ": ", error.message());
      return CopyOutcome::Failed;
    }
  }
  bool exists = false;
  std::error_code error = os::probePath(target, exists);
  if (!error && exists) {
    printLine("File ", target, " already exists!");
    return CopyOutcome::Failed;
  }
  if (!error) {
    const os::CopyResult copy = os::copyFileExclusive(
        source, target, [] { return os::interruptSignal() != 0; });
    if (copy.status == os::CopyStatus::Interrupted) {
      reportInterrupt();
      return CopyOutcome::Failed;
    }
    error = copy.error;
  }
  if (error) {
    printLine("Can't check whether ", target, " exists: ", error.message());
    return CopyOutcome::Failed;
  }
  if (bMove) {
    if (const std::error_code removed = os::removeFile(source)) {
      printLine("Can't check whether ", target, " exists: ", removed.message());
      return CopyOutcome::TransferredSourceKept;
    }
  }
  return CopyOutcome::Transferred;
}
