#include <algorithm>

#include "index/fat_names.h"
#include "job/fill_job.h"
#include "job/paths.h"
#include "os/append_file.h"
#include "os/files_below.h"
#include "os/signals.h"
#include "record/record.h"
#include "usedlist/used_list.h"

std::string FillJob::usedListBelowOutput() const {
  if (!outputFolder.held()) return "";
  const std::string list = absoluteForm(usedListPath);
  const size_t start = relativeStart(absoluteForm(outputDir.native()), list);
  return start == std::string::npos ? "" : list.substr(start);
}

namespace {

// `text` with ASCII letters in lower case, as FAT compares names.
std::string folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  }
  return text;
}

}  // namespace

bool FillJob::usedListIsOwnFile() const {
  if (!bWriteUsedList && !bReadUsedList) return false;
  const std::string below = usedListBelowOutput();
  if (below.empty()) return false;
  const bool fat = targetVolume.fatNames;
  const auto name = [&](const std::string& path) {
    return fat ? folded(recordPath(path)) : recordPath(path);
  };
  const std::string list = name(below);
  bool own = ownFileName(fileNameOf(list)) ||
             (!playlistName.empty() &&
              list == name(fat ? fatPath(playlistName) : playlistName));
  // The same file by another name: a link, or a name in another case.
  os::FileId listId;
  if (!own && !os::identifyPath(absoluteForm(usedListPath), listId)) {
    os::FileStatus held;
    own = !os::statusBelow(outputFolder, kRecordName, held) &&
          held.kind == os::FileStatus::Kind::RegularFile && held.id == listId;
  }
  if (own) {
    printLine("The used-list ", usedListPath,
              " is a file Plinkard keeps in the output directory (the "
              "record, the playlist or a temporary file); give another one!");
  }
  return own;
}

bool FillJob::checkUsedList() {
  if (bReadUsedList) {
    if (const std::error_code error = os::checkReadable(usedListPath)) {
      printLine("Can't read the used-list ", usedListPath, ": ",
                error.message());
      return false;
    }
  }
  if (!bWriteUsedList) return true;
  const std::string below = usedListBelowOutput();
  const std::error_code error =
      below.empty() ? os::checkAppendable(os::HeldFolder(), usedListPath)
                    : os::checkAppendable(outputFolder, below);
  if (error) {
    printLine("Can't write the used-list ", usedListPath, ": ",
              error.message());
    return false;
  }
  return true;
}

bool FillJob::readUsedList() {
  if (!bReadUsedList) return false;
  usedListStream.open(usedListPath, std::ios::in | std::ios::binary);
  if (!usedListStream.good()) {
    printLine("The UsedList-File can't be read!");
    usedListStream.clear();
    usedListStream.close();
    return false;
  }

  std::vector<uint32_t> sizes;
  sizes.reserve(songs.size());
  for (const SongEntry& song : songs) sizes.push_back(song.sizeKiB);
  ListedSongs listed(std::move(sizes));
  UsedListEntry entry;
  size_t count = 0;
  while (os::interruptSignal() == 0 &&
         readUsedListEntry(*usedListStream.rdbuf(), entry)) {
    listed.add(entry);
    ++count;
  }
  usedListStream.clear();
  usedListStream.close();
  printLine("End of Used List reached. ", count, " Entries were read.");

  const auto kept =
      std::remove_if(songs.begin(), songs.end(), [&](const SongEntry& song) {
        const bool used =
            listed.names(song.sizeKiB, fileNameOf(song.sourcePath.native()));
        if (used) noteTakenOut(song);
        return used;
      });
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
  // A list on the player goes to the player or nowhere: never into the bare
  // folder that a pulled card leaves behind.
  const std::string below = usedListBelowOutput();
  if (!below.empty() && outputGone()) {
    printLine("Can't write the used-list ", usedListPath,
              ": the output directory is gone");
    bUsedListFailed = !transferred.empty();
    return false;
  }
  os::AppendFile list;
  if (below.empty() ? list.open(usedListPath)
                    : list.open(outputFolder, below)) {
    printLine("The UsedList-File can't be written!");
    bUsedListFailed = !transferred.empty();
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
    bUsedListFailed = true;
    return false;
  }
  bUsedListFailed = kept < transferred.size();
  return !bUsedListFailed;
}
