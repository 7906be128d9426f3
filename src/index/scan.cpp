#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "index/naming.h"
#include "job/fill_job.h"
#include "job/interrupt.h"
#include "job/paths.h"

namespace {

// The extension of a file name: from its last '.' to the end, or empty.
std::string_view extensionOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool matchesFilter(const std::vector<std::string>& filters,
                   std::string_view name) {
  const std::string_view extension = extensionOf(name);
  return std::any_of(filters.begin(), filters.end(),
                     [&](const std::string& f) { return f == extension; });
}

void reportUnreadable(const std::string& text, int error) {
  std::cout << "Can't read directory " << text << ": " << errorText(error)
            << std::endl;
}

void reportInaccessibleFile(const std::string& entryText) {
  std::cout << std::endl
            << std::endl
            << "**********" << std::endl
            << "EXCEPTION: File exists but cannot be accessed!! (Probably "
               "some weird special chars in name)"
            << std::endl
            << "-> at file: " << entryText << std::endl
            << "**********" << std::endl;
}

// The scan recurses once and holds one open folder per level, and each
// level keeps its own copy of the path, so a hostile tree could exhaust the
// stack, the descriptors or memory. Deeper folders, or longer paths, are
// reported and skipped instead.
constexpr size_t kMaxPathText = 64 << 10;
constexpr rlim_t kMaxLevels = 4096;
// AddressSanitizer's frames are larger.
#if defined(__SANITIZE_ADDRESS__)
constexpr rlim_t kStackPerLevel = 4 << 10;
#elif defined(__has_feature)
constexpr rlim_t kStackPerLevel =
    __has_feature(address_sanitizer) ? 4 << 10 : 2 << 10;
#else
constexpr rlim_t kStackPerLevel = 2 << 10;
#endif
constexpr rlim_t kOtherDescriptors = 16;  // streams, the copy, the list

// How many levels the stack allows. The soft open-file limit is raised
// toward the hard one to match, since trees deeper than PATH_MAX need about
// two thousand levels and the usual soft limit is 1024.
size_t levelBudget() {
  static const size_t budget = [] {
    rlim_t levels = kMaxLevels;
    struct rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) == 0 &&
        limit.rlim_cur != RLIM_INFINITY) {
      levels = std::min(levels, limit.rlim_cur / kStackPerLevel);
    }
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
        limit.rlim_cur < levels + kOtherDescriptors) {
      limit.rlim_cur = std::min(levels + kOtherDescriptors, limit.rlim_max);
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<size_t>(levels);
  }();
  return budget;
}

}  // namespace

// A folder being listed, closed when the listing ends.
struct FillJob::OpenFolder {
  DIR* dir = nullptr;
  std::string text;    // its absolute text
  std::string prefix;  // `text` with a trailing '/', ready for a name
  ~OpenFolder() {
    if (dir != nullptr) closedir(dir);
  }
};

void FillJob::scanInputDirs() {
  for (const boost::filesystem::path& dir : inputDirs) {
    if (interruptSignal() != 0) break;
    scanDir(dir.native(), "");
  }
  std::cout << std::endl;
  if (interruptSignal() != 0) return;
  std::cout << songs.size() << " files found!" << std::endl;
}

void FillJob::scanDir(const std::string& folderText, std::string baseText) {
  scanFolder(AT_FDCWD, folderText, std::move(baseText));
}

bool FillJob::onCurrentPath(dev_t device, ino_t inode) const {
  return std::find(folderPath.begin(), folderPath.end(),
                   std::make_pair(device, inode)) != folderPath.end();
}

// Opens `folderText` (relative to `parentFd` when that is a folder being
// listed, by its last element) and lists it.
void FillJob::scanFolder(int parentFd, const std::string& folderText,
                         std::string baseText) {
  if (baseText.empty()) {
    baseText = folderText;
  } else if (baseText.back() != '/') {
    baseText += '/';
  }
  OpenFolder folder;
  folder.text = absoluteForm(folderText);
  const std::string base = absoluteForm(baseText);
  if (bVerbose) std::cout << "Scanning dir: " << folder.text << std::endl;

  if (folderPath.size() >= levelBudget()) {
    reportUnreadable(folder.text, EMFILE);
    return;
  }
  if (folder.text.size() > kMaxPathText) {
    reportUnreadable(folder.text, ENAMETOOLONG);
    return;
  }
  const std::string name =
      parentFd == AT_FDCWD ? folder.text : std::string(fileNameOf(folder.text));
  const int fd =
      openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat st;
    if (error == ENOENT ||
        (error == ENOTDIR && fstatat(parentFd, name.c_str(), &st, 0) != 0)) {
      std::cout << "Not found: " << folder.text << std::endl;
    } else if (error == ENOTDIR) {
      std::cout << "Not a directory: " << folder.text << std::endl;
    } else {
      reportUnreadable(folder.text, error);
    }
    return;
  }
  scanProgress.start();

  struct stat st;
  if (fstat(fd, &st) != 0) {
    reportUnreadable(folder.text, errno);
    close(fd);
    return;
  }
  if (onCurrentPath(st.st_dev, st.st_ino)) {
    close(fd);
    std::cout << "Skipping directory loop: " << folder.text << std::endl;
    return;
  }
  folder.dir = fdopendir(fd);
  if (folder.dir == nullptr) {
    const int error = errno;
    close(fd);
    reportUnreadable(folder.text, error);
    return;
  }
  folder.prefix = folder.text;
  if (folder.prefix.back() != '/') folder.prefix += '/';

  folderPath.emplace_back(st.st_dev, st.st_ino);
  scanEntries(folder, base);
  folderPath.pop_back();
}

namespace {

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void reportStrangeEntry(const std::string& entryText) {
  std::cout << "WTF is this? " << entryText << std::endl;
}

}  // namespace

void FillJob::scanEntries(OpenFolder& folder, const std::string& base) {
  const int fd = dirfd(folder.dir);
  std::string entryText;
  while (interruptSignal() == 0) {
    errno = 0;
    const struct dirent* entry = readdir(folder.dir);
    if (entry == nullptr) {
      if (errno != 0) reportUnreadable(folder.text, errno);
      return;
    }
    if (isDotOrDotDot(entry->d_name)) continue;
    entryText.assign(folder.prefix).append(entry->d_name);
    if (bVerbose) std::cout << "Current item: " << entryText << std::endl;
    scanEntry(fd, *entry, entryText, base);
  }
}

void FillJob::scanEntry(int fd, const struct dirent& entry,
                        const std::string& entryText, const std::string& base) {
  const char* name = entry.d_name;
  struct stat st;
  switch (entry.d_type) {
    case DT_DIR:
      scanFolder(fd, entryText, base);
      return;
    case DT_REG:
      if (!matchesFilter(filters, name)) return;
      if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        reportInaccessibleFile(entryText);
        return;
      }
      acceptFile(entryText, st.st_size, base.size());
      return;
    case DT_LNK:
    case DT_UNKNOWN:
      scanLinkedEntry(fd, name, entryText, base);
      return;
    default:
      reportStrangeEntry(entryText);
  }
}

// The listing does not tell where a link leads (or what an entry of
// unknown type is): follow it and look.
void FillJob::scanLinkedEntry(int fd, const char* name,
                              const std::string& entryText,
                              const std::string& base) {
  struct stat st;
  if (fstatat(fd, name, &st, 0) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      reportStrangeEntry(entryText);
    } else {
      reportUnreadable(entryText, errno);
    }
  } else if (S_ISDIR(st.st_mode)) {
    if (onCurrentPath(st.st_dev, st.st_ino)) {
      std::cout << "Skipping directory loop: " << entryText << std::endl;
    } else {
      scanFolder(fd, entryText, base);
    }
  } else if (S_ISREG(st.st_mode)) {
    if (matchesFilter(filters, name)) {
      acceptFile(entryText, st.st_size, base.size());
    }
  } else {
    reportStrangeEntry(entryText);
  }
}

void FillJob::acceptFile(const std::string& entryText, uint64_t sizeBytes,
                         size_t baseLength) {
  songs.emplace_back();
  SongEntry& song = songs.back();
  song.sourcePath += entryText;
  song.relativeStart =
      static_cast<uint32_t>(std::min(baseLength, entryText.size()));
  // A file of 4 TiB or more gets the largest size rather than a wrapped one.
  song.sizeKiB =
      static_cast<uint32_t>(std::min<uint64_t>(sizeBytes >> 10, UINT32_MAX));
  if (scanProgress.due()) {
    std::cout << "\r Scanning... " << songs.size() << " Songs found so far."
              << std::flush;
  }
}
