#include "job/fill_job.h"

#include <boost/filesystem/exception.hpp>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "job/paths.h"
#include "os/files.h"
#include "plan/song_limits.h"

FillJob::FillJob() : FillJob(std::cout) {}

FillJob::FillJob(std::ostream& output) : output_(output) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
}

bool FillJob::setInputDir(const std::string& text) {
  if (queryPathKind(absoluteForm(text)) != os::PathKind::Directory) {
    printLine("Input path ", text, " is not a valid Directory!");
    return false;
  }
  inputDirs.emplace_back(text);
  return true;
}

bool FillJob::setOutputDir(const std::string& text) {
  if (queryPathKind(absoluteForm(text)) != os::PathKind::Directory) {
    printLine("Output path ", text, " is not a valid Directory!");
    return false;
  }
  outputDir = text;
  return true;
}

namespace {

// The bytes available to the user on the volume of `folder`, thrown as the
// file-system library's error when the system cannot tell.
uint64_t availableOn(const std::string& folder) {
  uint64_t available = 0;
  if (const std::error_code error = os::availableBytes(folder, available)) {
    throw boost::filesystem::filesystem_error(
        "boost::filesystem::space", folder,
        boost::system::error_code(error.value(),
                                  boost::system::system_category()));
  }
  return available;
}

}  // namespace

bool FillJob::setFillSize(uint64_t megabytes, bool all) {
  if (all) {
    if (outputDir.empty()) {
      printLine("Give the output directory (-o) before -s all!");
      return false;
    }
    const uint64_t available = availableOn(absoluteForm(outputDir.native()));
    printLine(available >> 20, " MB free on target filesystem.");
    printLine("We are going to fill all free space on the target filesystem!");
    fillSize = available >> 10;
    bFillAll = true;
    return true;
  }
  // Counts from 2^54 MB on do not fit in 64 bits of KiB.
  if (megabytes == 0 || megabytes > UINT64_MAX / 1024) {
    printLine("You need to set a valid (positive) fill size!");
    return false;
  }
  fillSize = megabytes * 1024;
  bFillAll = false;
  return true;
}

bool FillJob::addFilter(const std::string& extension) {
  for (const std::string& filter : filters) {
    if (filter == extension) {
      printLine("The filter '", extension, "' was already added!");
      return false;
    }
  }
  filters.push_back(extension);
  printLine("Filter added: ", extension, " Files");
  return true;
}

bool FillJob::setRegex(bool include, const std::string& expression) {
  (include ? includeRegex : excludeRegex) = expression;
  return true;
}

bool FillJob::setUsedList(bool read, bool write, const std::string& path) {
  bReadUsedList = read;
  bWriteUsedList = write;
  usedListPath = path;
  if (queryPathKind(absoluteForm(path)) != os::PathKind::RegularFile) {
    printLine("Used songs list '", usedListPath,
              "' does not exist! We will create one at the end though.");
    bReadUsedList = false;
  }
  return true;
}

bool FillJob::setNamingMode(int32_t mode) {
  static const char* const kLines[] = {
      "File naming: filename.ext",
      "File naming: folder/subfolder/filename.ext",
      "File naming: folder-subfolder-filename.ext",
  };
  if (mode < 0 || mode > 2) {
    printLine("Only modes 0, 1, 2 are supported!");
    return false;
  }
  namingMode = mode;
  printLine(kLines[mode]);
  return true;
}

void FillJob::setVerbose(bool verbose) { bVerbose = verbose; }

bool FillJob::setMove(bool move) {
  bMove = move;
  printLine("bMove ist ", move ? "true" : "false");
  return true;
}

void FillJob::setDryRun(bool dryRun) { bDryRun = dryRun; }

void FillJob::setReplace(bool replace) { bReplace = replace; }

void FillJob::setPlaylist(const std::string& name) { playlistName = name; }

void FillJob::setAlbums(bool albums) { bAlbums = albums; }

bool FillJob::outputGone() const {
  return outputFolder.held() && !outputFolder.reachedBy(outputDir.native());
}

bool FillJob::setFillTime(double minutes) {
  const double ms = std::round(minutes * 60000.0);
  if (!(ms >= 1.0) || ms >= 9.2e18) {
    printLine("You need to set a valid (positive) playing time!");
    return false;
  }
  fillMs = static_cast<uint64_t>(ms);
  printLine("Playing time to fill: ", playingTimeText(fillMs));
  return true;
}

bool FillJob::setArtistLimit(uint32_t count) {
  if (count == 0) {
    printLine("You need to set a valid (positive) number per artist!");
    return false;
  }
  artistLimit = count;
  printLine("At most ", count, " per artist!");
  return true;
}

void FillJob::setConvert(const std::string& text) {
  bConvert = true;
  convertText = text;
}

void FillJob::reportInterrupt() {
  if (interruptReported) return;
  printLine("Interrupted!");
  interruptReported = true;
}
