#include "job/paths.h"

#include <boost/filesystem/exception.hpp>
#include <system_error>
#include <vector>

namespace {

[[noreturn]] void throwFileSystemError(const char* operation,
                                       const std::error_code& error,
                                       const std::string& path = "") {
  const boost::system::error_code code(error.value(),
                                       boost::system::system_category());
  if (path.empty()) throw boost::filesystem::filesystem_error(operation, code);
  throw boost::filesystem::filesystem_error(operation, path, code);
}

}  // namespace

std::string absoluteForm(const std::string& text, const std::string& cwd) {
  if (text.empty()) return text;
  const std::string full = text[0] == '/' ? text : cwd + "/" + text;

  // Elements are copied to `result` one by one; `starts` remembers where
  // each copied element's '/' stands so that ".." can take it back.
  std::string result;
  result.reserve(full.size() + 1);
  std::vector<size_t> starts;
  size_t pos = 0;
  while (pos < full.size()) {
    size_t end = full.find('/', pos);
    if (end == std::string::npos) end = full.size();
    const size_t length = end - pos;
    if (length == 2 && full.compare(pos, 2, "..") == 0) {
      if (!starts.empty()) {
        result.resize(starts.back());
        starts.pop_back();
      }
    } else if (length != 0 && !(length == 1 && full[pos] == '.')) {
      starts.push_back(result.size());
      result += '/';
      result.append(full, pos, length);
    }
    pos = end + 1;
  }
  if (result.empty() || text.back() == '/') result += '/';
  return result;
}

std::string absoluteForm(const std::string& text) {
  static const std::string cwd = [] {
    std::string folder;
    if (const std::error_code error = os::currentFolder(folder)) {
      throwFileSystemError("getcwd", error);
    }
    return folder;
  }();
  return absoluteForm(text, cwd);
}

os::PathKind queryPathKind(const std::string& path) {
  os::PathKind kind = os::PathKind::Missing;
  if (const std::error_code error = os::queryPathKind(path, kind)) {
    throwFileSystemError("status", error, path);
  }
  return kind;
}

std::string joinPath(std::string_view left, std::string_view right) {
  std::string joined;
  // One allocation: the scan joins a path for every song.
  joined.reserve(left.size() + 1 + right.size());
  joined += left;
  if (right.empty()) return joined;
  if (right.front() != '/' && !left.empty() && left.back() != '/') {
    joined += '/';
  }
  joined += right;
  return joined;
}

std::string_view fileNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

size_t relativeStart(const std::string& folder, const std::string& path) {
  if (folder.empty() || path.compare(0, folder.size(), folder) != 0) {
    return std::string::npos;
  }
  size_t rest = folder.size();
  while (rest < path.size() && path[rest] == '/') ++rest;
  const bool separated = rest > folder.size() || folder.back() == '/';
  return rest < path.size() && separated ? rest : std::string::npos;
}
