#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/append_file.h"
#include "os/posix_util.h"

namespace os {

namespace {

// The folder `below` holds, or the working folder.
int folderOf(const HeldFolder& below) {
  return below.held() ? below.descriptor().get() : AT_FDCWD;
}

}  // namespace

std::error_code AppendFile::open(const std::string& path) {
  return open(HeldFolder(), path);
}

std::error_code AppendFile::open(const HeldFolder& below,
                                 const std::string& path) {
  const int at = folderOf(below);
  const char* name = path.c_str();
  constexpr int kAppend = O_APPEND | O_CREAT | O_CLOEXEC;
  file_ = Descriptor(openat(at, name, O_RDWR | kAppend, 0666));
  if (!file_.valid()) {
    file_ = Descriptor(openat(at, name, O_WRONLY | kAppend, 0666));
  }
  return file_.valid() ? std::error_code() : lastError();
}

uint64_t AppendFile::size() const {
  const off_t end = lseek(file_.get(), 0, SEEK_END);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

bool AppendFile::endsWithLineEnd() const {
  const off_t end = lseek(file_.get(), 0, SEEK_END);
  char last = '\n';
  if (end > 0 && pread(file_.get(), &last, 1, end - 1) != 1) return true;
  return last == '\n';
}

size_t AppendFile::write(const std::string& text, std::error_code& error) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n =
        ::write(file_.get(), text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = lastError();
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

std::error_code AppendFile::truncate(uint64_t length) {
  if (ftruncate(file_.get(), static_cast<off_t>(length)) == 0) return {};
  return lastError();
}

std::error_code AppendFile::sync() {
  if (fdatasync(file_.get()) == 0 || errno == EINVAL) return {};
  return lastError();
}

std::error_code checkReadable(const std::string& path) {
  const Descriptor file(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  return file.valid() ? std::error_code() : lastError();
}

std::error_code checkAppendable(const HeldFolder& below,
                                const std::string& path) {
  const int at = folderOf(below);
  struct stat st;
  if (fstatat(at, path.c_str(), &st, 0) == 0) {
    if (S_ISDIR(st.st_mode))
      return std::error_code(EISDIR, std::generic_category());
    if (faccessat(at, path.c_str(), W_OK, AT_EACCESS) != 0) return lastError();
    return {};
  }
  if (errno != ENOENT) return lastError();
  // Missing: its folder must be there and take a new name.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  if (faccessat(at, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return lastError();
  }
  return {};
}

}  // namespace os
