#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/files_below.h"
#include "os/posix_util.h"

namespace os {

namespace {

std::error_code errorOf(int value) {
  return std::error_code(value, std::generic_category());
}

// The folder that holds the last element of a relative path, reached one
// folder at a time without following a link, and that element's name.
struct Place {
  Descriptor opened;  // the folder below the held one, when there is one
  int folder = -1;    // what `name` is relative to
  std::string name;
};

std::error_code reach(const HeldFolder& held, const std::string& relative,
                      Place& place) {
  if (!held.held()) return errorOf(EBADF);
  place.folder = held.descriptor().get();
  size_t start = 0;
  for (;;) {
    const size_t slash = relative.find('/', start);
    const std::string element = relative.substr(
        start, slash == std::string::npos ? std::string::npos : slash - start);
    if (element.empty() || element == "." || element == "..") {
      return errorOf(EINVAL);
    }
    if (slash == std::string::npos) {
      place.name = element;
      return {};
    }
    Descriptor next(openat(place.folder, element.c_str(),
                           O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) return lastError();
    place.opened = std::move(next);
    place.folder = place.opened.get();
    start = slash + 1;
  }
}

// A link or a non-folder where a folder was expected.
bool blockedOnTheWay(const std::error_code& error) {
  return error.value() == ELOOP || error.value() == ENOTDIR;
}

FileStatus statusOf(const struct stat& st) {
  FileStatus status;
  status.kind = S_ISREG(st.st_mode)   ? FileStatus::Kind::RegularFile
                : S_ISDIR(st.st_mode) ? FileStatus::Kind::Directory
                                      : FileStatus::Kind::Other;
  status.size = static_cast<uint64_t>(st.st_size);
  status.modified.seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
  status.modified.nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  return status;
}

// Nothing stands there: no such name, or a name longer than the file
// system holds.
bool nothingThere(int error) {
  return error == ENOENT || error == ENAMETOOLONG;
}

// Reaches `relative` and reads its status; a missing or blocked way is a
// status, not an error.
std::error_code look(const HeldFolder& held, const std::string& relative,
                     Place& place, FileStatus& status) {
  status = FileStatus();
  if (const std::error_code error = reach(held, relative, place)) {
    if (nothingThere(error.value())) return {};
    if (!blockedOnTheWay(error)) return error;
    status.kind = FileStatus::Kind::Other;
    return {};
  }
  struct stat st;
  if (fstatat(place.folder, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) !=
      0) {
    return nothingThere(errno) ? std::error_code() : lastError();
  }
  status = statusOf(st);
  return {};
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

std::error_code statusOf(int fd, FileStatus& status) {
  struct stat st;
  if (fstat(fd, &st) != 0) return lastError();
  status = statusOf(st);
  return {};
}

// Writes `text` into the new file `name` of `folder` and onto the device.
std::error_code writeNewFile(int folder, const std::string& name,
                             const std::string& text, FileStatus& written) {
  Descriptor file(openat(folder, name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         0666));
  if (!file.valid()) return lastError();
  std::error_code error = writeAll(file.get(), text);
  if (!error && fsync(file.get()) != 0) error = lastError();
  if (!error) error = statusOf(file.get(), written);
  const std::error_code closed = file.close();
  return error ? error : closed;
}

}  // namespace

std::error_code statusBelow(const HeldFolder& folder,
                            const std::string& relative, FileStatus& status) {
  Place place;
  return look(folder, relative, place, status);
}

std::error_code removeFileBelowIf(
    const HeldFolder& folder, const std::string& relative,
    const std::function<bool(const FileStatus&)>& remove, FileStatus& status,
    bool& removed) {
  removed = false;
  Place place;
  if (const std::error_code error = look(folder, relative, place, status)) {
    return error;
  }
  if (status.kind != FileStatus::Kind::RegularFile || !remove(status)) {
    return {};
  }
  if (unlinkat(place.folder, place.name.c_str(), 0) != 0) return lastError();
  removed = true;
  return {};
}

std::error_code removeEmptyFolderBelow(const HeldFolder& folder,
                                       const std::string& relative,
                                       bool& removed) {
  removed = false;
  Place place;
  FileStatus status;
  if (const std::error_code error = look(folder, relative, place, status)) {
    return error;
  }
  if (status.kind != FileStatus::Kind::Directory) return {};
  if (unlinkat(place.folder, place.name.c_str(), AT_REMOVEDIR) == 0) {
    removed = true;
    return {};
  }
  const int error = errno;
  if (error == ENOTEMPTY || error == EEXIST || error == ENOENT) return {};
  return errorOf(error);
}

std::error_code readFileBelow(const HeldFolder& folder,
                              const std::string& relative, std::string& text) {
  Place place;
  if (const std::error_code error = reach(folder, relative, place)) {
    return blockedOnTheWay(error) ? errorOf(ELOOP) : error;
  }
  // O_NONBLOCK keeps a pipe put there from blocking the open.
  const Descriptor file(openat(place.folder, place.name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) return lastError();
  struct stat st;
  if (fstat(file.get(), &st) != 0) return lastError();
  if (!S_ISREG(st.st_mode)) return errorOf(EINVAL);
  text.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(file.get(), buffer, sizeof buffer);
    if (n == 0) return {};
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    text.append(buffer, static_cast<size_t>(n));
  }
}

std::error_code replaceFileBelow(const HeldFolder& folder,
                                 const std::string& relative,
                                 const std::string& temporary,
                                 const std::string& text, FileStatus& written) {
  Place place;
  if (const std::error_code error = reach(folder, relative, place)) {
    return error;
  }
  const std::string name = temporary + "." + std::to_string(getpid()) + ".tmp";
  const char* temp = name.c_str();
  std::error_code error = writeNewFile(place.folder, name, text, written);
  if (error && error.value() == EEXIST) return error;
  if (!error &&
      renameat(place.folder, temp, place.folder, place.name.c_str()) != 0) {
    error = lastError();
  }
  if (error) {
    unlinkat(place.folder, temp, 0);
    return error;
  }
  // The new name must reach the device as well as the data.
  const Descriptor opened(
      openat(place.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid()) return lastError();
  return fsync(opened.get()) == 0 ? std::error_code() : lastError();
}

std::error_code lockFolder(const HeldFolder& folder, Descriptor& lock) {
  if (!folder.held()) return errorOf(EBADF);
  // flock() wants a descriptor that was opened, not only held by its path.
  Descriptor opened(openat(folder.descriptor().get(), ".",
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid()) return lastError();
  if (flock(opened.get(), LOCK_EX | LOCK_NB) != 0) return lastError();
  lock = std::move(opened);
  return {};
}

std::error_code AppendBelow::open(const HeldFolder& folder,
                                  const std::string& relative) {
  Place place;
  if (const std::error_code error = reach(folder, relative, place)) {
    return error;
  }
  Descriptor file(openat(place.folder, place.name.c_str(),
                         O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
  if (!file.valid()) return lastError();
  struct stat st;
  if (fstat(file.get(), &st) != 0) return lastError();
  if (!S_ISREG(st.st_mode)) return errorOf(EINVAL);
  file_ = std::move(file);
  return {};
}

std::error_code AppendBelow::append(const std::string& text) {
  if (!file_.valid()) return errorOf(EBADF);
  const off_t end = lseek(file_.get(), 0, SEEK_END);
  if (end < 0) return lastError();
  // After a piece that could not be cut off, a line end first, so that only
  // that piece is damaged and not the line added now.
  const std::error_code error =
      writeAll(file_.get(), cutShort_ ? "\n" + text : text);
  if (!error) {
    cutShort_ = false;
  } else if (ftruncate(file_.get(), end) != 0) {
    cutShort_ = true;
  }
  return error;
}

std::error_code AppendBelow::sync() {
  if (!file_.valid()) return {};
  return fdatasync(file_.get()) == 0 ? std::error_code() : lastError();
}

}  // namespace os
