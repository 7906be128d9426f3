#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "os/held_folder.h"
#include "os/posix_util.h"

namespace os {

namespace {

// The type of a file system by the magic number statfs gives.
std::string typeOfMagic(uint64_t magic) {
  switch (magic) {
    case 0x4d44:
      return "vfat";
    case 0x2011BAB0:
      return "exfat";
    case 0x5346544e:
      return "ntfs";
    case 0x7366746e:
      return "ntfs3";
    case 0xEF53:
      return "ext4";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    case 0x01021994:
      return "tmpfs";
    case 0xF2F52010:
      return "f2fs";
    default:
      return "other";
  }
}

// The type that the mount table gives for the device `device`, for FUSE
// file systems whose magic number says only "FUSE".
std::string mountedType(dev_t device) {
  std::ifstream table("/proc/self/mountinfo");
  const std::string wanted =
      std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string id, parent, numbers;
    fields >> id >> parent >> numbers;
    const size_t dash = line.find(" - ");
    if (numbers != wanted || dash == std::string::npos) continue;
    std::istringstream rest(line.substr(dash + 3));
    std::string type;
    rest >> type;
    return type;
  }
  return "fuse";
}

// The folder that would hold `path`: the text before its last '/'.
std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::error_code HeldFolder::hold(const std::string& path) {
  folder_ = Descriptor(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return folder_.valid() ? std::error_code() : lastError();
}

std::error_code HeldFolder::identify(FileId& id) const {
  return identifyDescriptor(folder_.get(), id);
}

bool HeldFolder::reachedBy(const std::string& path) const {
  FileId folder;
  struct stat st;
  if (identify(folder) || stat(path.c_str(), &st) != 0) return false;
  return folder == idOf(st);
}

std::error_code HeldFolder::volume(VolumeInfo& info) const {
  struct statfs fs;
  struct statvfs space;
  struct stat st;
  if (fstatfs(folder_.get(), &fs) != 0 ||
      fstatvfs(folder_.get(), &space) != 0 || fstat(folder_.get(), &st) != 0) {
    return lastError();
  }
  constexpr uint64_t kFuseMagic = 0x65735546;
  const uint64_t magic = static_cast<uint64_t>(fs.f_type);
  info.type = magic == kFuseMagic ? mountedType(st.st_dev) : typeOfMagic(magic);
  info.allocationUnit = space.f_frsize > 0 ? space.f_frsize : 512;
  info.availableBytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
  info.nameMax = space.f_namemax;
  return {};
}

bool HeldFolder::onSameVolume(const std::string& path) const {
  struct stat mine, other;
  if (fstat(folder_.get(), &mine) != 0) return false;
  if (stat(path.c_str(), &other) != 0 &&
      stat(folderOf(path).c_str(), &other) != 0) {
    return false;
  }
  return mine.st_dev == other.st_dev;
}

std::error_code HeldFolder::probe(const char* relative, bool& exists) const {
  struct stat st;
  const int at = folder_.valid() ? folder_.get() : AT_FDCWD;
  exists = fstatat(at, relative, &st, 0) == 0;
  if (exists || meansMissing(errno)) return {};
  return lastError();
}

std::error_code HeldFolder::folderSize(const std::string& relative,
                                       uint64_t& bytes) const {
  struct stat st;
  const int at = folder_.valid() ? folder_.get() : AT_FDCWD;
  if (fstatat(at, relative.empty() ? "." : relative.c_str(), &st, 0) != 0) {
    return lastError();
  }
  if (!S_ISDIR(st.st_mode)) {
    return std::make_error_code(std::errc::not_a_directory);
  }
  bytes = static_cast<uint64_t>(st.st_size);
  return {};
}

std::error_code HeldFolder::listNames(const std::string& relative,
                                      FolderNames& names) const {
  const int at = folder_.valid() ? folder_.get() : AT_FDCWD;
  const int fd = openat(at, relative.empty() ? "." : relative.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return lastError();
  int flags = 0;
  names.caseFolded =
      ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const std::error_code error = lastError();
    close(fd);
    return error;
  }
  std::error_code error;
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) error = lastError();
      break;
    }
    names.names.emplace_back(entry->d_name);
    names.fileOrFolder.push_back(entry->d_type == DT_REG ||
                                 entry->d_type == DT_DIR);
  }
  closedir(dir);
  return error;
}

namespace {

// Opens the folder `name` of `at` for holding, without following a link;
// with `create`, makes it first when it is missing. `made` is set when it
// was made here.
std::error_code enterOne(int at, const std::string& name, bool create,
                         Descriptor& folder, bool& made) {
  made = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    folder = Descriptor(openat(at, name.c_str(),
                               O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.valid()) return {};
    const int error = errno;
    if (error == ENOTDIR) {
      // A link as well as a file stands there: tell the two apart.
      struct stat st;
      const bool link =
          fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode);
      return std::error_code(link ? ELOOP : ENOTDIR, std::generic_category());
    }
    if (error != ENOENT || !create) {
      return std::error_code(error, std::generic_category());
    }
    if (mkdirat(at, name.c_str(), 0777) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      return lastError();
    }
  }
  return std::error_code(ENOENT, std::generic_category());
}

}  // namespace

std::error_code HeldFolder::enter(const std::string& relative, bool create,
                                  HeldFolder& folder,
                                  std::vector<std::string>* created,
                                  std::string* blocked) const {
  if (!held()) return std::error_code(EBADF, std::generic_category());
  Descriptor current(fcntl(folder_.get(), F_DUPFD_CLOEXEC, 0));
  if (!current.valid()) return lastError();
  for (size_t start = 0; start < relative.size();) {
    size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    const std::string name = relative.substr(start, slash - start);
    start = slash + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") return std::error_code(EINVAL, std::generic_category());
    Descriptor next;
    bool made = false;
    const std::error_code error =
        enterOne(current.get(), name, create, next, made);
    if (error) {
      if (blocked != nullptr) *blocked = relative.substr(0, slash);
      return error;
    }
    if (made && created != nullptr) {
      created->push_back(relative.substr(0, slash));
    }
    current = std::move(next);
  }
  folder.folder_ = std::move(current);
  return {};
}

std::error_code HeldFolder::syncVolume() const {
  // syncfs() wants a descriptor that was opened, not only held by its path.
  const Descriptor folder(
      openat(folder_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return lastError();
  return syncfs(folder.get()) == 0 ? std::error_code() : lastError();
}

bool affectsWholeVolume(const std::error_code& error) {
  switch (error.value()) {
    case EROFS:
    case EIO:
    case ENODEV:
    case ENXIO:
    case ENOTCONN:
    case ESHUTDOWN:
    case EUCLEAN:
    case ESTALE:
      return true;
    default:
      return false;
  }
}

}  // namespace os
