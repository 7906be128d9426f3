#include <iostream>

#include "job/fill_job.h"
#include "job/paths.h"

bool FillJob::validate() {
  if (inputDirs.empty()) {
    std::cout << "No input directory given!" << std::endl;
    return false;
  }
  if (fillSize == 0) {
    std::cout << "No size to fill given!" << std::endl;
    return false;
  }
  if (filters.empty()) {
    std::cout << "No filters given, only search for .mp3 files." << std::endl;
    filters.emplace_back(".mp3");
  }
  if (queryPathKind(outputDir.native(), "status") == PathKind::Missing) {
    std::cout << "Output directory " << outputDir.native() << " does not exist!"
              << std::endl;
    return false;
  }
  return true;
}
