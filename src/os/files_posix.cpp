#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "os/files.h"
#include "os/posix_util.h"

namespace os {

namespace {

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

EntryKind kindOf(unsigned char type) {
  switch (type) {
    case DT_DIR:
      return EntryKind::Directory;
    case DT_REG:
      return EntryKind::RegularFile;
    case DT_LNK:
      return EntryKind::Link;
    case DT_UNKNOWN:
      return EntryKind::Unknown;
    default:
      return EntryKind::Other;
  }
}

// Opens `name` relative to `parent` as a folder to list. A non-folder on
// the way reads as ENOTDIR too; that is told apart by whether anything is
// there at all.
std::error_code openFolder(int parent, const char* name, int& fd) {
  fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) return {};
  const std::error_code error = lastError();
  struct stat st;
  if (error.value() == ENOTDIR && fstatat(parent, name, &st, 0) != 0) {
    return std::error_code(ENOENT, std::generic_category());
  }
  return error;
}

}  // namespace

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileStatus statusOfStat(const struct stat& st) {
  FileStatus status;
  status.kind = S_ISREG(st.st_mode)   ? FileStatus::Kind::RegularFile
                : S_ISDIR(st.st_mode) ? FileStatus::Kind::Directory
                                      : FileStatus::Kind::Other;
  status.size = static_cast<uint64_t>(st.st_size);
  status.modified.seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
  status.modified.nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  status.id = idOf(st);
  return status;
}

namespace {

// Reads `length` bytes at `offset` of `fd` into `text`.
std::error_code readAt(int fd, uint64_t offset, uint64_t length,
                       std::string& text) {
  text.resize(length);
  for (uint64_t done = 0; done < length;) {
    const ssize_t n = pread(fd, &text[done], length - done,
                            static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    // Shorter than its status said: it changed while it was read.
    if (n == 0) return std::error_code(EIO, std::generic_category());
    done += static_cast<uint64_t>(n);
  }
  return {};
}

}  // namespace

std::error_code readEnds(int fd, uint64_t size, FileEnds& ends) {
  const uint64_t head = std::min(size, kEndBytes);
  const uint64_t tail = std::min(size - head, kEndBytes);
  if (const std::error_code error = readAt(fd, 0, head, ends.head)) {
    return error;
  }
  return readAt(fd, size - tail, tail, ends.tail);
}

std::error_code writeAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

std::error_code Descriptor::close() {
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? std::error_code() : lastError();
}

std::error_code queryPathKind(const std::string& path, PathKind& kind) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    const int error = errno;
    if (meansMissing(error) || error == ENAMETOOLONG || error == ELOOP) {
      kind = PathKind::Missing;
      return {};
    }
    return std::error_code(error, std::generic_category());
  }
  kind = S_ISDIR(st.st_mode)   ? PathKind::Directory
         : S_ISREG(st.st_mode) ? PathKind::RegularFile
                               : PathKind::Other;
  return {};
}

std::error_code probePath(const std::string& path, bool& exists) {
  struct stat st;
  exists = stat(path.c_str(), &st) == 0;
  if (exists || meansMissing(errno)) return {};
  return lastError();
}

std::error_code identifyPath(const std::string& path, FileId& id) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return lastError();
  id = idOf(st);
  return {};
}

std::error_code currentFolder(std::string& text) {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return lastError();
    buffer.resize(buffer.size() * 2);
  }
  text = buffer.data();
  return {};
}

std::error_code availableBytes(const std::string& path, uint64_t& bytes) {
  struct statvfs volume;
  if (statvfs(path.c_str(), &volume) != 0) return lastError();
  bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
  return {};
}

size_t raiseOpenFileLimit(size_t wanted) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < wanted) {
    const rlim_t raised = std::min<rlim_t>(wanted, limit.rlim_max);
    struct rlimit higher = {raised, limit.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &higher) == 0) limit.rlim_cur = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? wanted
                                         : static_cast<size_t>(limit.rlim_cur);
}

size_t usableProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

uint64_t threadWaits() {
  struct rusage usage;
  if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_nvcsw);
}

// An open folder whose listing is read with getdents64 into a buffer of its
// own. The C library's fdopendir would check the descriptor once more (a
// status and two fcntl calls), for each of the tens of thousands of folders
// a scan opens; the id is read by identify() anyway.
struct FolderReader::Stream {
  static constexpr size_t kBuffer = 32 << 10;
  int fd = -1;
  std::unique_ptr<char[]> buffer;  // while the listing is read
  size_t next = 0;                 // the next entry in it
  size_t end = 0;
  ~Stream() {
    if (fd >= 0) ::close(fd);
  }
};

FolderReader::FolderReader() = default;
FolderReader::~FolderReader() = default;
FolderReader::FolderReader(FolderReader&& other) noexcept = default;
FolderReader& FolderReader::operator=(FolderReader&& other) noexcept = default;

std::error_code FolderReader::open(const std::string& path) {
  FolderReader none;
  return openEntry(none, path.c_str());
}

std::error_code FolderReader::openEntry(const FolderReader& parent,
                                        const char* name) {
  const int at = parent.stream_ ? parent.stream_->fd : AT_FDCWD;
  int fd = -1;
  if (const std::error_code error = openFolder(at, name, fd)) return error;
  stream_ = std::make_unique<Stream>();
  stream_->fd = fd;
  return {};
}

std::error_code FolderReader::identify(FileId& id) const {
  return identifyDescriptor(stream_->fd, id);
}

bool FolderReader::remote() const {
  // The magic numbers of NFS, SMB, CIFS, SMB 2 and 3, FUSE, 9P, Ceph, AFS
  // (two), Coda and NCP.
  static const uint64_t kRemote[] = {
      0x6969,     0x517B,     0xFF534D42, 0xFE534D42, 0x65735546, 0x01021997,
      0x00C36400, 0x5346414F, 0x6B414653, 0x73757245, 0x564C};
  struct statfs fs;
  if (fstatfs(stream_->fd, &fs) != 0) return false;
  const auto type = static_cast<uint64_t>(fs.f_type);
  return std::find(std::begin(kRemote), std::end(kRemote), type) !=
         std::end(kRemote);
}

bool FolderReader::next(const char*& name, EntryKind& kind,
                        std::error_code& error) {
  Stream& s = *stream_;
  for (;;) {
    if (s.next == s.end) {
      // Not zeroed first, as make_unique would: the system fills it.
      if (!s.buffer) s.buffer.reset(new char[Stream::kBuffer]);
      const ssize_t read = getdents64(s.fd, s.buffer.get(), Stream::kBuffer);
      if (read <= 0) {
        if (read < 0) error = lastError();
        s.buffer.reset();
        s.next = s.end = 0;
        return false;
      }
      s.next = 0;
      s.end = static_cast<size_t>(read);
    }
    // The system lays the records out aligned for their type.
    const auto* entry =
        reinterpret_cast<const struct dirent64*>(s.buffer.get() + s.next);
    s.next += entry->d_reclen;
    if (isDotOrDotDot(entry->d_name)) continue;
    name = entry->d_name;
    kind = kindOf(entry->d_type);
    return true;
  }
}

std::error_code FolderReader::statusOf(const char* name, bool follow,
                                       EntryStatus& status) const {
  struct stat st;
  if (fstatat(stream_->fd, name, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
    return lastError();
  }
  status.directory = S_ISDIR(st.st_mode);
  status.regularFile = S_ISREG(st.st_mode);
  status.size = static_cast<uint64_t>(st.st_size);
  status.links = static_cast<uint64_t>(st.st_nlink);
  status.id = idOf(st);
  status.modified.seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
  status.modified.nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  return {};
}

}  // namespace os
