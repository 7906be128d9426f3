#include "job/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/exception.hpp>
#include <cerrno>
#include <system_error>
#include <vector>

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
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) {
        throw boost::filesystem::filesystem_error(
            "getcwd",
            boost::system::error_code(errno, boost::system::system_category()));
      }
      buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
  }();
  return absoluteForm(text, cwd);
}

PathKind queryPathKind(const std::string& path, const char* operation) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG ||
        error == ELOOP) {
      return PathKind::Missing;
    }
    throw boost::filesystem::filesystem_error(
        operation, path,
        boost::system::error_code(error, boost::system::system_category()));
  }
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  if (S_ISREG(st.st_mode)) return PathKind::RegularFile;
  return PathKind::Other;
}

std::string errorText(int error) {
  return std::error_code(error, std::system_category()).message();
}
