#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/long_path_posix.h"
#include "os/posix_util.h"
#include "os/read_file.h"

namespace os {

namespace {

void fillStatus(const struct stat& st, FileStatus& status) {
  status.kind = S_ISREG(st.st_mode)   ? FileStatus::Kind::RegularFile
                : S_ISDIR(st.st_mode) ? FileStatus::Kind::Directory
                                      : FileStatus::Kind::Other;
  status.size = static_cast<uint64_t>(st.st_size);
  status.modified = {static_cast<int64_t>(st.st_mtim.tv_sec),
                     static_cast<uint32_t>(st.st_mtim.tv_nsec)};
}

}  // namespace

std::error_code statusFollowing(const std::string& path, FileStatus& status) {
  status = FileStatus();
  const LongPath at(path);
  if (at.error()) {
    return meansMissing(at.error().value()) ? std::error_code() : at.error();
  }
  struct stat st;
  if (fstatat(at.folder(), at.rest(), &st, 0) != 0) {
    return meansMissing(errno) ? std::error_code() : lastError();
  }
  fillStatus(st, status);
  return {};
}

std::error_code ReadOnlyFile::open(const std::string& path) {
  file_ = Descriptor();
  status_ = FileStatus();
  const LongPath at(path);
  if (at.error()) return at.error();
  Descriptor file(
      openat(at.folder(), at.rest(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!file.valid() || fstat(file.get(), &st) != 0) return lastError();
  if (!S_ISREG(st.st_mode)) {
    return std::error_code(S_ISDIR(st.st_mode) ? EISDIR : EINVAL,
                           std::generic_category());
  }
  fillStatus(st, status_);
  file_ = std::move(file);
  return {};
}

std::error_code ReadOnlyFile::readAt(uint64_t offset, char* data, size_t length,
                                     size_t& got) const {
  got = 0;
  while (got < length) {
    const ssize_t n = pread(file_.get(), data + got, length - got,
                            static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return {};
}

}  // namespace os
