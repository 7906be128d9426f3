#include "index/naming.h"

#include "job/fill_job.h"
#include "job/paths.h"

std::string dashed(std::string_view relative) {
  std::string text(relative);
  for (char& c : text) {
    if (c == '/') c = '-';
  }
  return text;
}

void FillJob::makeTargetPath(SongEntry& entry) const {
  const std::string& left = outputDir.native();
  switch (namingMode) {
    case Mirrored:
      entry.targetPath = joinPath(left, entry.relativePath());
      break;
    case Dashed:
      entry.targetPath = joinPath(left, dashed(entry.relativePath()));
      break;
    default:
      entry.targetPath = joinPath(left, fileNameOf(entry.sourcePath.native()));
      break;
  }
}
