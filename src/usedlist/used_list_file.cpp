#include <algorithm>

#include "job/fill_job.h"
#include "job/paths.h"
#include "os/append_file.h"
#include "os/signals.h"
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

}  // namespace

bool FillJob::readUsedList() {
  if (!bReadUsedList) return false;
  usedListStream.open(usedListPath, std::ios::in | std::ios::binary);
  if (!usedListStream.good()) {
    printLine("The UsedList-File can't be read!");
    usedListStream.clear();
    usedListStream.close();
    return false;
  }

  SizeMarks marks(songs);
  UsedListEntry entry;
  size_t count = 0;
  while (os::interruptSignal() == 0 &&
         readUsedListEntry(*usedListStream.rdbuf(), entry)) {
    marks.mark(entry.sizeKiB);
    ++count;
  }
  usedListStream.clear();
  usedListStream.close();
  printLine("End of Used List reached. ", count, " Entries were read.");

  const auto kept = std::remove_if(
      songs.begin(), songs.end(),
      [&](const SongEntry& song) { return marks.marked(song.sizeKiB); });
  const size_t removed = songs.end() - kept;
  songs.erase(kept, songs.end());
  printLine("Done. ", removed, " entries were removed from the song list.");
  return true;
}

namespace {

// The lines of the transferred songs, with where each one ends in `text`.
struct ListLines {
  std::string text;
  std::vector<size_t> ends;
};

ListLines linesFor(const SongIndex& songs, const std::vector<uint32_t>& which,
                   bool startWithLineEnd) {
  ListLines lines;
  if (startWithLineEnd) lines.text = "\n";
  for (uint32_t position : which) {
    const SongEntry& song = songs[position];
    lines.text +=
        usedListLine(song.sizeKiB, fileNameOf(song.sourcePath.native()));
    lines.ends.push_back(lines.text.size());
  }
  return lines;
}

}  // namespace

bool FillJob::writeUsedList() {
  if (!bWriteUsedList) return false;
  os::AppendFile list;
  if (list.open(usedListPath)) {
    printLine("The UsedList-File can't be written!");
    return false;
  }
  if (transferred.empty()) return true;

  const uint64_t start = list.size();
  const ListLines lines = linesFor(songs, transferred, !list.endsWithLineEnd());
  std::error_code error;
  const size_t written = list.write(lines.text, error);
  if (written == lines.text.size()) return true;

  // Take back a half-written line, so the next run does not read a number
  // cut short, and name the song whose line did not make it.
  const size_t failed =
      std::upper_bound(lines.ends.begin(), lines.ends.end(), written) -
      lines.ends.begin();
  const size_t whole = failed == 0 ? 0 : lines.ends[failed - 1];
  if (list.truncate(start + whole)) {
    // The partial line stays; the next append starts a line of its own.
  }
  printLine("Can't write ", songs[transferred[failed]].sourcePath.native(),
            " to used-list: ", error.message());
  return false;
}
