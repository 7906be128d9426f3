#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "os/append_file.h"
#include "os/posix_util.h"

namespace os {

std::error_code AppendFile::open(const std::string& path) {
  const char* name = path.c_str();
  file_ =
      Descriptor(::open(name, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (!file_.valid()) {
    file_ = Descriptor(
        ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  }
  return file_.valid() ? std::error_code() : lastError();
}

uint64_t AppendFile::size() const {
  const off_t end = lseek(file_.get(), 0, SEEK_END);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

bool AppendFile::endsWithLineEnd() const {
  const off_t end = lseek(file_.get(), 0, SEEK_END);
  char last = '\n';
  if (end > 0 && pread(file_.get(), &last, 1, end - 1) != 1) return true;
  return last == '\n';
}

size_t AppendFile::write(const std::string& text, std::error_code& error) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n =
        ::write(file_.get(), text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = lastError();
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

std::error_code AppendFile::truncate(uint64_t length) {
  if (ftruncate(file_.get(), static_cast<off_t>(length)) == 0) return {};
  return lastError();
}

std::error_code AppendFile::sync() {
  return fdatasync(file_.get()) == 0 ? std::error_code() : lastError();
}

}  // namespace os
