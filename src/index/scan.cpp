#include "index/folder_scan.h"
#include "job/fill_job.h"
#include "os/signals.h"

void FillJob::scanInputDirs() {
  FolderScan scan(*this);
  for (const boost::filesystem::path& dir : inputDirs) {
    if (os::interruptSignal() != 0) break;
    scan.scan(dir.native(), "");
  }
  printLine();
  if (os::interruptSignal() != 0) return;
  printLine(songs.size(), " files found!");
}

void FillJob::scanDir(const std::string& folderText, std::string baseText) {
  FolderScan(*this).scan(folderText, std::move(baseText));
}
