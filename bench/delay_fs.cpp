// A read-only mirror of a folder that answers every request after a set
// delay, as a network share answers after its round trip. The kernel's
// caches of names and attributes are off, so every lookup and every status
// reaches it, as on a share whose cache has expired. Requests are served
// on up to 256 threads at once, so that the mirror never limits a client's
// requests in flight.
//
//   plinkard_delay_fs SOURCE MOUNTPOINT [--delay-us N] [FUSE options]
//
// Runs in the foreground until unmounted (fusermount3 -u MOUNTPOINT).

#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string source;
long delayMicros = 500;

void delay() {
  struct timespec wait = {delayMicros / 1000000,
                          (delayMicros % 1000000) * 1000};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

std::string real(const char* path) { return source + path; }

void* init(struct fuse_conn_info*, struct fuse_config* config) {
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->use_ino = 1;
  return nullptr;
}

int getattr(const char* path, struct stat* st, struct fuse_file_info*) {
  delay();
  return lstat(real(path).c_str(), st) == 0 ? 0 : -errno;
}

int readlink(const char* path, char* buffer, size_t size) {
  delay();
  const ssize_t n = ::readlink(real(path).c_str(), buffer, size - 1);
  if (n < 0) return -errno;
  buffer[n] = '\0';
  return 0;
}

int opendir(const char* path, struct fuse_file_info* info) {
  delay();
  DIR* dir = ::opendir(real(path).c_str());
  if (dir == nullptr) return -errno;
  info->fh = reinterpret_cast<uint64_t>(dir);
  return 0;
}

// The whole listing in one answer (libfuse hands it out in pieces), each
// entry with its type, as a local file system gives it.
int readdir(const char*, void* buffer, fuse_fill_dir_t fill, off_t,
            struct fuse_file_info* info, enum fuse_readdir_flags) {
  delay();
  DIR* dir = reinterpret_cast<DIR*>(info->fh);
  rewinddir(dir);
  for (const struct dirent* entry; (entry = ::readdir(dir)) != nullptr;) {
    struct stat st = {};
    st.st_ino = entry->d_ino;
    st.st_mode = DTTOIF(entry->d_type);
    if (fill(buffer, entry->d_name, &st, 0, fuse_fill_dir_flags{}) != 0) {
      break;
    }
  }
  return 0;
}

int releasedir(const char*, struct fuse_file_info* info) {
  closedir(reinterpret_cast<DIR*>(info->fh));
  return 0;
}

int open(const char* path, struct fuse_file_info* info) {
  delay();
  if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  const int fd = ::open(real(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  info->fh = static_cast<uint64_t>(fd);
  return 0;
}

int read(const char*, char* buffer, size_t size, off_t offset,
         struct fuse_file_info* info) {
  delay();
  const ssize_t n = pread(static_cast<int>(info->fh), buffer, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int release(const char*, struct fuse_file_info* info) {
  close(static_cast<int>(info->fh));
  return 0;
}

int statfs(const char*, struct statvfs* st) {
  delay();
  return statvfs(source.c_str(), st) == 0 ? 0 : -errno;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "Usage: %s SOURCE MOUNTPOINT [--delay-us N] [FUSE options]\n",
                 argv[0]);
    return 2;
  }
  char* resolved = realpath(argv[1], nullptr);
  if (resolved == nullptr) {
    std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  source = resolved;
  std::free(resolved);
  // fuse_main gets the program name, the mount point, -f (foreground),
  // read-only, the threads, and whatever else was given.
  std::vector<char*> args = {argv[0], argv[2]};
  static char foreground[] = "-f", options[] = "-o",
              fixed[] =
                  "ro,fsname=plinkard-delay,max_threads=256,"
                  "max_idle_threads=256";
  args.insert(args.end(), {foreground, options, fixed});
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--delay-us") == 0 && i + 1 < argc) {
      delayMicros = std::atol(argv[++i]);
    } else {
      args.push_back(argv[i]);
    }
  }
  struct fuse_operations operations = {};
  operations.init = init;
  operations.getattr = getattr;
  operations.readlink = readlink;
  operations.opendir = opendir;
  operations.readdir = readdir;
  operations.releasedir = releasedir;
  operations.open = open;
  operations.read = read;
  operations.release = release;
  operations.statfs = statfs;
  return fuse_main(static_cast<int>(args.size()), args.data(), &operations,
                   nullptr);
}
