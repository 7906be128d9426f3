#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "index/naming.h"
#include "job/fill_job.h"
#include "job/interrupt.h"
#include "job/paths.h"
#include "usedlist/used_list.h"

namespace {

// The distinct song sizes of the index, each with a mark for "named by the
// list". Bounded by the index, however long the list is.
class SizeMarks {
 public:
  explicit SizeMarks(const SongIndex& songs) {
    sizes_.reserve(songs.size());
    for (const SongEntry& song : songs) sizes_.push_back(song.sizeKiB);
    std::sort(sizes_.begin(), sizes_.end());
    sizes_.erase(std::unique(sizes_.begin(), sizes_.end()), sizes_.end());
    marked_.assign(sizes_.size(), false);
  }

  void mark(uint32_t size) {
    auto it = std::lower_bound(sizes_.begin(), sizes_.end(), size);
    if (it != sizes_.end() && *it == size) marked_[it - sizes_.begin()] = true;
  }

  bool marked(uint32_t size) const {
    auto it = std::lower_bound(sizes_.begin(), sizes_.end(), size);
    return marked_[it - sizes_.begin()];
  }

 private:
  std::vector<uint32_t> sizes_;
  std::vector<bool> marked_;
};

// Writes all of `text` to `fd`; returns how much was written before an
// error, with the error in `error`.
size_t writeAll(int fd, const std::string& text, int& error) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

// Whether the file behind `fd` is empty or ends with a line end. A file
// that cannot be read back is taken to end with one.
bool endsWithLineEnd(int fd) {
  const off_t size = lseek(fd, 0, SEEK_END);
  char last = '\n';
  if (size > 0 && pread(fd, &last, 1, size - 1) != 1) return true;
  return last == '\n';
}

}  // namespace

bool FillJob::readUsedList() {
  if (!bReadUsedList) return false;
  usedListStream.open(usedListPath, std::ios::in | std::ios::binary);
  if (!usedListStream.good()) {
    std::cout << "The UsedList-File can't be read!" << std::endl;
    usedListStream.clear();
    usedListStream.close();
    return false;
  }

  SizeMarks marks(songs);
  UsedListEntry entry;
  size_t count = 0;
  while (interruptSignal() == 0 &&
         readUsedListEntry(*usedListStream.rdbuf(), entry)) {
    marks.mark(entry.sizeKiB);
    ++count;
  }
  usedListStream.clear();
  usedListStream.close();
  std::cout << "End of Used List reached. " << count << " Entries were read."
            << std::endl;

  const auto kept = std::remove_if(
      songs.begin(), songs.end(),
      [&](const SongEntry& song) { return marks.marked(song.sizeKiB); });
  const size_t removed = songs.end() - kept;
  songs.erase(kept, songs.end());
  std::cout << "Done. " << removed
            << " entries were removed from the song list." << std::endl;
  return true;
}

bool FillJob::writeUsedList() {
  if (!bWriteUsedList) return false;
  // Read access only serves to look at the last byte; append-only is enough.
  int fd =
      open(usedListPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    fd = open(usedListPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
              0666);
  }
  if (fd < 0) {
    std::cout << "The UsedList-File can't be written!" << std::endl;
    return false;
  }
  if (transferred.empty()) {
    close(fd);
    return true;
  }

  const off_t start = lseek(fd, 0, SEEK_END);
  std::string text = endsWithLineEnd(fd) ? "" : "\n";
  std::vector<size_t> lineEnds;  // where each song's line ends in `text`
  for (uint32_t position : transferred) {
    const SongEntry& song = songs[position];
    text += usedListLine(song.sizeKiB, fileNameOf(song.sourcePath.native()));
    lineEnds.push_back(text.size());
  }

  int error = 0;
  const size_t written = writeAll(fd, text, error);
  bool ok = true;
  if (written < text.size()) {
    // Take back a half-written line, so the next run does not read a number
    // cut short, and name the song whose line did not make it.
    const size_t failed =
        std::upper_bound(lineEnds.begin(), lineEnds.end(), written) -
        lineEnds.begin();
    const size_t whole = failed == 0 ? 0 : lineEnds[failed - 1];
    if (start >= 0 && ftruncate(fd, start + static_cast<off_t>(whole)) != 0) {
      // The partial line stays; the next append starts a line of its own.
    }
    std::cout << "Can't write "
              << songs[transferred[failed]].sourcePath.native()
              << " to used-list: " << errorText(error) << std::endl;
    ok = false;
  }
  close(fd);
  return ok;
}
