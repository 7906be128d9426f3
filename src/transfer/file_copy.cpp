#include "transfer/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "job/interrupt.h"

namespace {

constexpr size_t kChunk = 4 << 20;

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  // Closes now and reports what close() said.
  int release() {
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Errors that mean "no in-kernel copy between these two files".
bool kernelCopyUnavailable(int error) {
  return error == ENOSYS || error == EXDEV || error == EINVAL ||
         error == EOPNOTSUPP || error == EBADF || error == ETXTBSY;
}

// Copies one chunk with read and write; returns the bytes copied (0 at the
// end of the source) or -1 with errno set.
ssize_t copyChunkByHand(int in, int out) {
  static const std::unique_ptr<char[]> buffer(new char[kChunk]);
  const ssize_t got = read(in, buffer.get(), kChunk);
  if (got <= 0) return got;
  for (ssize_t done = 0; done < got;) {
    const ssize_t n =
        write(out, buffer.get() + done, static_cast<size_t>(got - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += n;
  }
  return got;
}

// Copies everything from `in` to `out`; 0, kCopyInterrupted or an errno.
int copyData(int in, int out) {
  bool useKernel = true;
  for (;;) {
    if (interruptSignal() != 0) return kCopyInterrupted;
    ssize_t n;
    if (useKernel) {
      n = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
      if (n < 0 && kernelCopyUnavailable(errno)) {
        useKernel = false;
        continue;
      }
    } else {
      n = copyChunkByHand(in, out);
    }
    if (n == 0) return 0;
    if (n < 0 && errno != EINTR) return errno;
  }
}

// A path split for the *at() calls: the folder to start from and the text
// to look up relative to it. A text that the kernel would refuse as too long
// is walked down piece by piece first, each piece shorter than PATH_MAX.
class LongPath {
 public:
  explicit LongPath(const std::string& path) {
    size_t start = 0;
    while (path.size() - start >= PATH_MAX) {
      const size_t cut = path.rfind('/', start + PATH_MAX - 1);
      if (cut == std::string::npos || cut < start) {
        error_ = ENAMETOOLONG;
        return;
      }
      const std::string piece =
          cut == 0 ? "/" : path.substr(start, cut - start);
      const int fd = openat(folder_.get() < 0 ? AT_FDCWD : folder_.get(),
                            piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) {
        error_ = errno;
        return;
      }
      folder_.reset(fd);
      start = cut + 1;
    }
    rest_ = path.c_str() + start;
  }

  // 0, or the errno value that kept the walk from reaching the last folder.
  int error() const { return error_; }
  int folder() const { return folder_.get() < 0 ? AT_FDCWD : folder_.get(); }
  const char* rest() const { return rest_; }

 private:
  Descriptor folder_{-1};
  const char* rest_ = "";
  int error_ = 0;
};

}  // namespace

int removeFile(const std::string& path) {
  const LongPath at(path);
  if (at.error() != 0) return at.error();
  return unlinkat(at.folder(), at.rest(), 0) == 0 ? 0 : errno;
}

int copyFileExclusive(const std::string& source, const std::string& target) {
  const LongPath from(source);
  if (from.error() != 0) return from.error();
  // O_NONBLOCK keeps a pipe that replaced the source from blocking the open.
  Descriptor in(
      openat(from.folder(), from.rest(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat st;
  if (fstat(in.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;

  const LongPath to(target);
  if (to.error() != 0) return to.error();
  Descriptor out(openat(to.folder(), to.rest(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        st.st_mode & 0777));
  if (out.get() < 0) return errno;
  int result = copyData(in.get(), out.get());
  if (out.release() != 0 && result == 0) result = errno;
  // Only the file this call created goes: the exclusive open made it ours.
  if (result != 0) unlinkat(to.folder(), to.rest(), 0);
  return result;
}
