#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <iostream>

#include "index/naming.h"
#include "job/fill_job.h"
#include "job/interrupt.h"
#include "job/paths.h"
#include "transfer/file_copy.h"

namespace {

void reportTargetError(const std::string& target, int error) {
  std::cout << "Can't check whether " << target
            << " exists: " << errorText(error) << std::endl;
}

// Makes sure the folder that will hold `target` exists; prints why not.
bool prepareFolder(const boost::filesystem::path& target) {
  const boost::filesystem::path folder = target.parent_path();
  if (folder.empty()) return true;
  // status() also sets `error` when nothing is there; only a failure to
  // tell counts as an error.
  boost::system::error_code error;
  if (boost::filesystem::status(folder, error).type() ==
      boost::filesystem::file_not_found) {
    error.clear();
    boost::filesystem::create_directories(folder, error);
  }
  if (error) {
    std::cout << "Can't create directory " << folder.native() << ": "
              << error.message() << std::endl;
    return false;
  }
  return true;
}

}  // namespace

bool FillJob::copyFiles() {
  if (plan.empty()) {
    std::cout << "There are no songs to copy! Did you forget to create an "
                 "index or to create a choice?"
              << std::endl;
    return false;
  }
  std::cout << "bMove is " << (bMove ? "true" : "false") << std::endl;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (interruptSignal() != 0) {
      reportInterrupt();
      break;
    }
    const SongEntry& entry = songs[plan[i]];
    std::cout << "Copying file " << i + 1 << " / " << plan.size() << ": "
              << fileNameOf(entry.sourcePath.native()) << std::endl;
    const CopyOutcome outcome = copySong(entry);
    if (outcome != CopyOutcome::Transferred) {
      std::cout << "File '" << entry.sourcePath.native()
                << " could not be copied!" << std::endl;
    }
    if (outcome != CopyOutcome::Failed) transferred.push_back(plan[i]);
  }
  return true;
}

FillJob::CopyOutcome FillJob::copySong(const SongEntry& entry) {
  const std::string& source = entry.sourcePath.native();
  const std::string& target = entry.targetPath.native();
  if (!prepareFolder(entry.targetPath)) return CopyOutcome::Failed;

  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    std::cout << "File " << target << " already exists!" << std::endl;
    return CopyOutcome::Failed;
  }
  if (errno != ENOENT && errno != ENOTDIR) {
    reportTargetError(target, errno);
    return CopyOutcome::Failed;
  }

  const int result = copyFileExclusive(source, target);
  if (result == kCopyInterrupted) {
    reportInterrupt();
    return CopyOutcome::Failed;
  }
  if (result != 0) {
    reportTargetError(target, result);
    return CopyOutcome::Failed;
  }
  if (bMove) {
    const int removeError = removeFile(source);
    if (removeError != 0) {
      reportTargetError(target, removeError);
      return CopyOutcome::TransferredSourceKept;
    }
  }
  return CopyOutcome::Transferred;
}
