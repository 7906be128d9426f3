#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

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
  status = statusOfStat(st);
  return {};
}

std::error_code statusOf(int fd, FileStatus& status) {
  struct stat st;
  if (fstat(fd, &st) != 0) return lastError();
  status = statusOfStat(st);
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

namespace {

// Opens the regular file `relative` for reading without following a link.
std::error_code openBelow(const HeldFolder& folder, const std::string& relative,
                          Descriptor& file, FileStatus& status) {
  Place place;
  if (const std::error_code error = reach(folder, relative, place)) {
    return blockedOnTheWay(error) ? errorOf(ELOOP) : error;
  }
  // O_NONBLOCK keeps a pipe put there from blocking the open.
  file = Descriptor(openat(place.folder, place.name.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) return lastError();
  if (const std::error_code error = statusOf(file.get(), status)) {
    return error;
  }
  return status.kind == FileStatus::Kind::RegularFile ? std::error_code()
                                                      : errorOf(EINVAL);
}

}  // namespace

std::error_code readEndsBelow(const HeldFolder& folder,
                              const std::string& relative, FileStatus& status,
                              FileEnds& ends) {
  Descriptor file;
  if (const std::error_code error = openBelow(folder, relative, file, status)) {
    return error;
  }
  return readEnds(file.get(), status.size, ends);
}

std::error_code readLinesBelow(
    const HeldFolder& folder, const std::string& relative, uint64_t maxBytes,
    size_t maxLine, const std::function<bool(std::string_view, bool)>& line) {
  Descriptor file;
  FileStatus status;
  if (const std::error_code error = openBelow(folder, relative, file, status)) {
    return error;
  }
  if (status.size > maxBytes) return errorOf(EFBIG);
  std::string pending;  // the start of a line the last read did not end
  const auto keep = [&](std::string_view piece) {
    pending.append(
        piece.substr(0, maxLine - std::min(maxLine, pending.size())));
  };
  char buffer[65536];
  for (uint64_t total = 0;;) {
    const ssize_t n = read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > maxBytes) return errorOf(EFBIG);
    std::string_view rest(buffer, static_cast<size_t>(n));
    for (size_t end; (end = rest.find('\n')) != std::string_view::npos;) {
      const std::string_view piece = rest.substr(0, end);
      rest.remove_prefix(end + 1);
      bool more;
      if (pending.empty()) {
        more = line(piece.substr(0, maxLine), true);
      } else {
        keep(piece);
        more = line(pending, true);
        pending.clear();
      }
      if (!more) return {};
    }
    keep(rest);
  }
  if (!pending.empty()) line(pending, false);
  return {};
}

std::error_code replaceFileBelow(const HeldFolder& folder,
                                 const std::string& relative,
                                 const std::string& temporary,
                                 const std::string& text, FileStatus& written,
                                 bool& replaced) {
  replaced = false;
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
  replaced = true;
  // The new name must reach the device as well as the data.
  const Descriptor opened(
      openat(place.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid()) return lastError();
  return fsync(opened.get()) == 0 ? std::error_code() : lastError();
}

namespace {

// Renames `from` to `to` in the folder `folder`, never over a file at `to`
// (EEXIST). Where the file system takes no such rename, `to` is looked up
// first, which leaves only a moment for another program to put a file
// there.
std::error_code renameNoReplace(int folder, const std::string& from,
                                const std::string& to) {
  if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) ==
      0) {
    return {};
  }
  if (errno != EINVAL && errno != ENOSYS) return lastError();
  struct stat st;
  if (fstatat(folder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return errorOf(EEXIST);
  }
  if (errno != ENOENT) return lastError();
  return renameat(folder, from.c_str(), folder, to.c_str()) == 0
             ? std::error_code()
             : lastError();
}

// The folder of `place` as a descriptor of its own.
std::error_code ownFolder(Place& place, Descriptor& folder) {
  if (place.opened.valid()) {
    folder = std::move(place.opened);
    return {};
  }
  folder = Descriptor(fcntl(place.folder, F_DUPFD_CLOEXEC, 0));
  return folder.valid() ? std::error_code() : lastError();
}

}  // namespace

std::string asideNameOf(const std::string& name) {
  // FNV-1a: short, the same in every build, and a name every file system
  // takes.
  uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : name) hash = (hash ^ c) * 0x100000001b3u;
  static const char kDigits[] = "0123456789abcdef";
  std::string aside = ".plinkard-aside-0000000000000000";
  for (size_t i = aside.size(); hash != 0; hash >>= 4) {
    aside[--i] = kDigits[hash & 15];
  }
  return aside;
}

FileAside::~FileAside() {
  if (isAside_) (void)putBack();
}

std::error_code FileAside::putAside(const HeldFolder& folder,
                                    const std::string& relative) {
  Place place;
  if (const std::error_code error = reach(folder, relative, place)) {
    return error;
  }
  if (const std::error_code error = ownFolder(place, folder_)) return error;
  name_ = place.name;
  aside_ = asideNameOf(name_);
  if (const std::error_code error =
          renameNoReplace(folder_.get(), name_, aside_)) {
    return error;
  }
  isAside_ = true;
  file_ = Descriptor(openat(folder_.get(), aside_.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::error_code error =
      file_.valid() ? statusOf(file_.get(), status_) : lastError();
  if (!error && status_.kind != FileStatus::Kind::RegularFile) {
    error = errorOf(EINVAL);
  }
  if (error) (void)putBack();
  return error;
}

std::error_code FileAside::readEnds(FileEnds& ends) const {
  return os::readEnds(file_.get(), status_.size, ends);
}

std::error_code FileAside::remove() {
  file_ = Descriptor();
  if (unlinkat(folder_.get(), aside_.c_str(), 0) != 0) {
    const std::error_code error = lastError();
    (void)putBack();
    return error;
  }
  isAside_ = false;
  return {};
}

std::error_code FileAside::putBack() {
  file_ = Descriptor();
  const std::error_code error = renameNoReplace(folder_.get(), aside_, name_);
  if (!error) isAside_ = false;
  return error;
}

std::error_code putBackLeftAside(const HeldFolder& folder,
                                 const std::string& relative, bool& putBack) {
  putBack = false;
  Place place;
  if (const std::error_code error = reach(folder, relative, place)) {
    return nothingThere(error.value()) || blockedOnTheWay(error)
               ? std::error_code()
               : error;
  }
  const std::string aside = asideNameOf(place.name);
  struct stat st;
  if (fstatat(place.folder, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return nothingThere(errno) ? std::error_code() : lastError();
  }
  if (!S_ISREG(st.st_mode)) return {};
  const std::error_code error =
      renameNoReplace(place.folder, aside, place.name);
  putBack = !error;
  return error.value() == EEXIST ? std::error_code() : error;
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
