#include "index/naming.h"

#include "job/fill_job.h"

std::string joinPath(std::string_view left, std::string_view right) {
  std::string joined(left);
  if (right.empty()) return joined;
  if (right.front() != '/' && !left.empty() && left.back() != '/') {
    joined += '/';
  }
  joined += right;
  return joined;
}

std::string dashed(std::string_view relative) {
  std::string text(relative);
  for (char& c : text) {
    if (c == '/') c = '-';
  }
  return text;
}

std::string_view fileNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
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
