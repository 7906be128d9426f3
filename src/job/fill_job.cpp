#include "job/fill_job.h"

#include <boost/filesystem/operations.hpp>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "job/paths.h"

FillJob::FillJob() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

bool FillJob::setInputDir(const std::string& text) {
  if (queryPathKind(absoluteForm(text), "status") != PathKind::Directory) {
    std::cout << "Input path " << text << " is not a valid Directory!"
              << std::endl;
    return false;
  }
  inputDirs.emplace_back(text);
  return true;
}

bool FillJob::setOutputDir(const std::string& text) {
  if (queryPathKind(absoluteForm(text), "status") != PathKind::Directory) {
    std::cout << "Output path " << text << " is not a valid Directory!"
              << std::endl;
    return false;
  }
  outputDir = text;
  return true;
}

bool FillJob::setFillSize(uint64_t megabytes, bool all) {
  if (all) {
    if (outputDir.empty()) {
      std::cout << "Give the output directory (-o) before -s all!" << std::endl;
      return false;
    }
    const uint64_t available =
        boost::filesystem::space(absoluteForm(outputDir.native())).available;
    std::cout << (available >> 20) << " MB free on target filesystem."
              << std::endl;
    std::cout << "We are going to fill all free space on the target filesystem!"
              << std::endl;
    fillSize = available >> 10;
    return true;
  }
  // Counts from 2^54 MB on do not fit in 64 bits of KiB.
  if (megabytes == 0 || megabytes > UINT64_MAX / 1024) {
    std::cout << "You need to set a valid (positive) fill size!" << std::endl;
    return false;
  }
  fillSize = megabytes * 1024;
  return true;
}

bool FillJob::addFilter(const std::string& extension) {
  for (const std::string& filter : filters) {
    if (filter == extension) {
      std::cout << "The filter '" << extension << "' was already added!"
                << std::endl;
      return false;
    }
  }
  filters.push_back(extension);
  std::cout << "Filter added: " << extension << " Files" << std::endl;
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
  if (queryPathKind(absoluteForm(path), "status") != PathKind::RegularFile) {
    std::cout << "Used songs list '" << usedListPath
              << "' does not exist! We will create one at the end though."
              << std::endl;
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
    std::cout << "Only modes 0, 1, 2 are supported!" << std::endl;
    return false;
  }
  namingMode = mode;
  std::cout << kLines[mode] << std::endl;
  return true;
}

void FillJob::setVerbose(bool verbose) { bVerbose = verbose; }

bool FillJob::setMove(bool move) {
  bMove = move;
  std::cout << "bMove ist " << (move ? "true" : "false") << std::endl;
  return true;
}

void FillJob::reportInterrupt() {
  if (interruptReported) return;
  std::cout << "Interrupted!" << std::endl;
  interruptReported = true;
}
