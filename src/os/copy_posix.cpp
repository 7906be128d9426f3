#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "os/copy.h"
#include "os/descriptor.h"
#include "os/long_path_posix.h"
#include "os/posix_util.h"

namespace os {

namespace {

constexpr size_t kChunk = 4 << 20;
// Copies by hand go through a buffer that stays in the processor's cache.
constexpr size_t kHandChunk = 128 << 10;

// Errors that mean "no in-kernel copy between these two files".
bool kernelCopyUnavailable(int error) {
  return error == ENOSYS || error == EXDEV || error == EINVAL ||
         error == EOPNOTSUPP || error == EBADF || error == ETXTBSY;
}

// Copies one chunk with read and write; returns the bytes copied (0 at the
// end of the source) or -1 with errno set.
ssize_t copyChunkByHand(int in, int out) {
  static const std::unique_ptr<char[]> buffer(new char[kHandChunk]);
  const ssize_t got = read(in, buffer.get(), kHandChunk);
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

// Copies everything from `in` to `out`. With `writeBack` the written data
// is handed to the device chunk by chunk, so that a flush later finds
// little left to wait for.
CopyResult copyData(int in, int out, const CopyOptions& options,
                    bool writeBack) {
  bool useKernel = true;
  off_t written = 0, handedOver = 0;
  for (;;) {
    if (options.stop && options.stop())
      return {CopyStatus::Interrupted, {}, true};
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
    if (n == 0) return {CopyStatus::Copied, {}, true};
    if (n < 0 && errno != EINTR) return {CopyStatus::Failed, lastError(), true};
    if (n > 0) written += n;
    if (writeBack && written - handedOver >= static_cast<off_t>(kChunk)) {
      sync_file_range(out, handedOver, written - handedOver,
                      SYNC_FILE_RANGE_WRITE);
      handedOver = written;
    }
  }
}

// What a copy does to the target before it is closed: the times, as
// `options` ask, and whatever `options.accept` does with its status and
// its ends, read back from it.
CopyResult finish(int out, const struct stat& source,
                  const CopyOptions& options) {
  if (options.keepTimes) {
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (futimens(out, times) != 0)
      return {CopyStatus::Failed, lastError(), true};
  }
  if (options.accept) {
    struct stat st;
    if (fstat(out, &st) != 0) return {CopyStatus::Failed, lastError(), true};
    const FileStatus status = statusOfStat(st);
    FileEnds ends;
    std::error_code error = readEnds(out, status.size, ends);
    if (!error) error = options.accept(status, ends);
    if (error) return {CopyStatus::Failed, error, true};
  }
  return {CopyStatus::Copied, {}, true};
}

CopyResult failed(const std::error_code& error, bool targetSide = true) {
  return {CopyStatus::Failed, error, targetSide};
}

// Opens `source` for reading and reads its status into `st`; a source that
// is no regular file is refused.
std::error_code openSource(const std::string& source, Descriptor& in,
                           struct stat& st) {
  const LongPath from(source);
  if (from.error()) return from.error();
  // O_NONBLOCK keeps a pipe that replaced the source from blocking the open.
  in = Descriptor(
      openat(from.folder(), from.rest(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!in.valid() || fstat(in.get(), &st) != 0) return lastError();
  if (S_ISREG(st.st_mode)) return {};
  return std::error_code(S_ISDIR(st.st_mode) ? EISDIR : EINVAL,
                         std::generic_category());
}

// Closes the target that a copy created at `at`, which ended with `result`:
// a failed close fails the copy, and a target of a copy that failed goes.
CopyResult closeTarget(Descriptor& out, const LongPath& at, CopyResult result) {
  const std::error_code closed = out.close();
  if (closed && result.status == CopyStatus::Copied) result = failed(closed);
  // Only the file this call created goes: the exclusive open made it ours.
  if (result.status != CopyStatus::Copied) unlinkat(at.folder(), at.rest(), 0);
  return result;
}

}  // namespace

std::error_code removeFile(const std::string& path) {
  const LongPath at(path);
  if (at.error()) return at.error();
  return unlinkat(at.folder(), at.rest(), 0) == 0 ? std::error_code()
                                                  : lastError();
}

std::error_code UnflushedCopy::flush() {
  std::error_code error;
  if (fdatasync(file_.get()) != 0) error = lastError();
  const std::error_code closed = file_.close();
  if (!error) error = closed;
  if (error) {
    const LongPath at(target_, folder_.valid() ? folder_.get() : AT_FDCWD);
    if (!at.error()) unlinkat(at.folder(), at.rest(), 0);
  }
  return error;
}

CopyResult copyFileExclusive(const std::string& source, const HeldFolder& below,
                             const std::string& target,
                             const CopyOptions& options,
                             UnflushedCopy* unflushed) {
  Descriptor in;
  struct stat st = {};
  if (const std::error_code error = openSource(source, in, st)) {
    return failed(error, false);
  }
  const int base = below.held() ? below.descriptor().get() : AT_FDCWD;
  const LongPath to(target, base);
  if (to.error()) return failed(to.error());
  Descriptor out(openat(to.folder(), to.rest(),
                        O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                        st.st_mode & 0777));
  if (!out.valid()) return failed(lastError());
  CopyResult result =
      copyData(in.get(), out.get(), options, unflushed != nullptr);
  if (result.status == CopyStatus::Copied)
    result = finish(out.get(), st, options);
  if (result.status == CopyStatus::Copied && unflushed != nullptr) {
    // The folder must stay reachable for the removal of a copy whose flush
    // fails, whoever holds it now.
    if (below.held()) {
      unflushed->folder_ = Descriptor(fcntl(base, F_DUPFD_CLOEXEC, 0));
      if (!unflushed->folder_.valid()) {
        return closeTarget(out, to, failed(lastError()));
      }
    }
    unflushed->file_ = std::move(out);
    unflushed->target_ = target;
    return result;
  }
  return closeTarget(out, to, result);
}

}  // namespace os
