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

// The line of each transferred song, in plan order; the first one starts
// with a line end when the list does not end with one.
std::vector<std::string> linesFor(const SongIndex& songs,
                                  const std::vector<uint32_t>& which,
                                  bool startWithLineEnd) {
  std::vector<std::string> lines;
  lines.reserve(which.size());
  for (uint32_t position : which) {
    const SongEntry& song = songs[position];
    lines.push_back(
        usedListLine(song.sizeKiB, fileNameOf(song.sourcePath.native())));
  }
  if (startWithLineEnd && !lines.empty()) lines.front().insert(0, "\n");
  return lines;
}

// Appends `lines` to `list`, all in one write when it can, and keeps every
// whole line that fits: when space runs out, a line cut short is taken back
// (so that the next run does not read a number cut short) and the lines
// after it are tried one by one until one fails. Returns how many lines
// were kept; `error` tells why the next one was not.
size_t appendWholeLines(os::AppendFile& list,
                        const std::vector<std::string>& lines,
                        std::error_code& error) {
  uint64_t end = list.size();
  std::string text;
  for (const std::string& line : lines) text += line;
  size_t written = list.write(text, error);
  if (written == text.size()) return lines.size();
  size_t kept = 0;
  for (; kept < lines.size() && written >= lines[kept].size(); ++kept) {
    written -= lines[kept].size();
    end += lines[kept].size();
  }
  // Take back the line cut short, then try the others one by one.
  if (written > 0 && list.truncate(end)) return kept;
  for (; kept < lines.size(); ++kept) {
    if (list.write(lines[kept], error) != lines[kept].size()) {
      if (list.truncate(end)) {
        // The partial line stays; the next append starts a line of its own.
      }
      break;
    }
    end += lines[kept].size();
  }
  return kept;
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
  std::error_code error;
  const size_t kept = appendWholeLines(
      list, linesFor(songs, transferred, !list.endsWithLineEnd()), error);
  if (kept < transferred.size()) {
    printLine("Can't write ", songs[transferred[kept]].sourcePath.native(),
              " to used-list: ", error.message());
    printLine(transferred.size() - kept, " of ", transferred.size(),
              " songs could not be listed; a later run may pick them again.");
  }
  // A list on the player must be on its device before the player is pulled.
  if (const std::error_code synced = list.sync()) {
    printLine("Can't write the used-list ", usedListPath, ": ",
              synced.message());
    return false;
  }
  return kept == transferred.size();
}
