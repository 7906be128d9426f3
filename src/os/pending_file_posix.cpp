#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "os/long_path_posix.h"
#include "os/pending_file.h"
#include "os/posix_util.h"

namespace os {

namespace {

// Numbers the temporary files of this process.
std::atomic<uint64_t> pendingCount{0};

std::error_code errorOf(int number) {
  return std::error_code(number, std::generic_category());
}

// Opens the folder `text` ("" for `base` itself) for the *at() calls.
std::error_code openFolder(int base, const std::string& text,
                           Descriptor& folder) {
  const std::string path = text.empty() ? "." : text;
  const LongPath at(path, base);  // points into `path`
  if (at.error()) return at.error();
  folder = Descriptor(
      openat(at.folder(), at.rest(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.valid() ? std::error_code() : lastError();
}

// Whether `name` is ".<tag>.<pid>.<n>.tmp"; its process id goes to `pid`.
bool parseLeftover(const std::string& name, const std::string& tag, long& pid) {
  const std::string head = "." + tag + ".";
  const std::string tail = ".tmp";
  if (name.size() <= head.size() + tail.size() ||
      name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const std::string middle =
      name.substr(head.size(), name.size() - head.size() - tail.size());
  const size_t dot = middle.find('.');
  if (dot == 0 || dot == std::string::npos || dot + 1 == middle.size() ||
      middle.find_first_not_of("0123456789.") != std::string::npos ||
      middle.find('.', dot + 1) != std::string::npos) {
    return false;
  }
  pid = std::strtol(middle.c_str(), nullptr, 10);
  return pid > 0;
}

// Whether the process `pid` may still be running here.
bool mayRun(long pid) {
  if (pid == static_cast<long>(getpid())) return true;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

std::error_code openForReading(const std::string& path, Descriptor& file) {
  const LongPath from(path);
  if (from.error()) return from.error();
  // O_NONBLOCK keeps a pipe put in place of a song from blocking the open.
  file = Descriptor(
      openat(from.folder(), from.rest(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!file.valid() || fstat(file.get(), &st) != 0) return lastError();
  if (S_ISREG(st.st_mode)) return {};
  file = Descriptor();
  return errorOf(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
}

std::error_code readAt(const Descriptor& file, uint64_t offset, void* data,
                       size_t size, size_t& got) {
  for (;;) {
    const ssize_t n = pread(file.get(), data, size, static_cast<off_t>(offset));
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return {};
    }
    if (errno != EINTR) return lastError();
  }
}

std::error_code writeAt(const Descriptor& file, uint64_t offset,
                        const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n =
        pwrite(file.get(), bytes, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    bytes += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return {};
}

std::error_code sizeOf(const Descriptor& file, uint64_t& size) {
  struct stat st;
  if (fstat(file.get(), &st) != 0) return lastError();
  size = static_cast<uint64_t>(st.st_size);
  return {};
}

std::error_code resize(const Descriptor& file, uint64_t size) {
  while (ftruncate(file.get(), static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return lastError();
  }
  return {};
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      file_(std::move(other.file_)),
      name_(std::move(other.name_)),
      target_(std::move(other.target_)),
      exists_(other.exists_) {
  other.exists_ = false;
}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    discard();
    folder_ = std::move(other.folder_);
    file_ = std::move(other.file_);
    name_ = std::move(other.name_);
    target_ = std::move(other.target_);
    exists_ = other.exists_;
    other.exists_ = false;
  }
  return *this;
}

std::error_code PendingFile::create(const HeldFolder& below,
                                    const std::string& target,
                                    const std::string& tag) {
  discard();
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? ""
                             : slash == 0               ? "/"
                                          : target.substr(0, slash);
  target_ = slash == std::string::npos ? target : target.substr(slash + 1);
  const int base = below.held() ? below.descriptor().get() : AT_FDCWD;
  if (const std::error_code error = openFolder(base, folder, folder_)) {
    return error;
  }
  for (;;) {
    name_ = "." + tag + "." + std::to_string(getpid()) + "." +
            std::to_string(pendingCount++) + ".tmp";
    file_ = Descriptor(openat(folder_.get(), name_.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file_.valid()) break;
    if (errno != EEXIST) return lastError();
  }
  exists_ = true;
  return {};
}

std::error_code PendingFile::flush() {
  std::error_code error;
  if (fdatasync(file_.get()) != 0) error = lastError();
  const std::error_code closed = file_.close();
  return error ? error : closed;
}

std::error_code PendingFile::place() {
  const int at = folder_.get();
  if (renameat2(at, name_.c_str(), at, target_.c_str(), RENAME_NOREPLACE) ==
      0) {
    exists_ = false;
    return {};
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    return lastError();
  // No exclusive rename here (some FUSE file systems): a second name, which
  // is never made over an existing one, then the temporary name goes.
  if (linkat(at, name_.c_str(), at, target_.c_str(), 0) == 0) {
    exists_ = false;
    unlinkat(at, name_.c_str(), 0);
    return {};
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
    return lastError();
  // Neither (a FAT volume through FUSE): look, then rename.
  struct stat st;
  if (fstatat(at, target_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    return errorOf(EEXIST);
  if (errno != ENOENT) return lastError();
  if (renameat(at, name_.c_str(), at, target_.c_str()) != 0) return lastError();
  exists_ = false;
  return {};
}

void PendingFile::discard() {
  if (!exists_) return;
  (void)file_.close();
  unlinkat(folder_.get(), name_.c_str(), 0);
  exists_ = false;
}

size_t removeLeftovers(const HeldFolder& below, const std::string& folder,
                       const std::string& tag) {
  Descriptor at;
  const int base = below.held() ? below.descriptor().get() : AT_FDCWD;
  if (openFolder(base, folder, at)) return 0;
  DIR* listing = fdopendir(dup(at.get()));
  if (listing == nullptr) return 0;
  size_t removed = 0;
  while (const struct dirent* entry = readdir(listing)) {
    long pid = 0;
    if (!parseLeftover(entry->d_name, tag, pid) || mayRun(pid)) continue;
    if (unlinkat(at.get(), entry->d_name, 0) == 0) ++removed;
  }
  closedir(listing);
  return removed;
}

}  // namespace os
