#include <cerrno>
#include <set>
#include <unordered_set>

#include "job/fill_job.h"
#include "job/paths.h"
#include "os/files_below.h"
#include "record/playlist.h"
#include "record/record.h"

namespace {

using Kind = os::FileStatus::Kind;

// The folder part of a path below the output folder, "" when it has none.
std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

// The recorded songs that are there, each path and each file once at its
// last place (letter-case twins on FAT name one file). A song that a
// stopped run left aside is put back first.
std::vector<RecordedSong> songsThere(const FillJob& job) {
  const std::vector<RecordedSong>& songs = job.record.entries.songs;
  std::vector<RecordedSong> there;
  std::unordered_set<std::string> seen;
  std::set<os::FileId> files;
  for (auto song = songs.rbegin(); song != songs.rend(); ++song) {
    os::FileStatus now;
    if (!seen.insert(song->path).second ||
        os::statusBelow(job.outputFolder, song->path, now)) {
      continue;
    }
    bool putBack = false;
    if (now.kind == Kind::Missing &&
        !os::putBackLeftAside(job.outputFolder, song->path, putBack) &&
        putBack) {
      (void)os::statusBelow(job.outputFolder, song->path, now);
    }
    if (now.kind == Kind::RegularFile && files.insert(now.id).second) {
      there.push_back(*song);
    }
  }
  return std::vector<RecordedSong>(there.rbegin(), there.rend());
}

// Why the playlist may not be written where it goes, or an empty text.
std::string whyNotWritten(FillJob& job, const std::string& path) {
  if (job.targetLost || job.outputGone()) {
    return "the output directory can't be reached any more";
  }
  os::FileStatus now;
  if (const std::error_code error =
          os::statusBelow(job.outputFolder, path, now)) {
    return error.message();
  }
  if (now.kind == Kind::Missing) return "";
  const RecordedFile* mine = job.record.playlist(path);
  if (mine != nullptr && unchangedSince(*mine, now)) return "";
  return "a file of that name is there that Plinkard did not write or that "
         "was changed since";
}

// Makes the missing folders of the playlist `path`, adding them to the
// record; why they cannot be made, or an empty text.
std::string makePlaylistFolders(FillJob& job, const std::string& path) {
  if (folderOf(path).empty()) return "";
  std::vector<std::string> made;
  os::HeldFolder folder;
  std::string blocked;
  const std::error_code error =
      job.outputFolder.enter(folderOf(path), true, folder, &made, &blocked);
  // A folder the record misses is only never removed.
  for (const std::string& one : made) (void)job.record.addFolder(one);
  if (!error) return "";
  return error.value() == ELOOP
             ? joinPath(job.outputDir.native(), blocked) + " is a link"
             : error.message();
}

void writePlaylist(FillJob& job) {
  const std::string& path = job.record.playlistPath;
  const std::string shown = joinPath(job.outputDir.native(), path);
  std::string why = whyNotWritten(job, path);
  if (why.empty()) why = makePlaylistFolders(job, path);
  size_t listed = 0;
  RecordedFile written;
  written.path = path;
  if (why.empty()) {
    bool replaced = false;
    const std::string text = playlistText(songsThere(job), path, listed);
    os::FileStatus status;
    const std::error_code error = os::replaceFileBelow(
        job.outputFolder, path, ".plinkard-playlist", text, status, replaced);
    if (error && !replaced) why = error.message();
    if (error && replaced) {
      job.printLine("The playlist ", shown,
                    " was written, but its folder could not be flushed: ",
                    error.message());
      ++job.record.failures;
    }
    written.size = status.size;
    written.modified = status.modified;
  }
  if (!why.empty()) {
    job.printLine("The playlist ", shown, " was not written: ", why);
    ++job.record.failures;
    return;
  }
  // Unrecorded, it would not be replaced next time: say so.
  if (const std::error_code error = job.record.addPlaylist(written)) {
    job.printLine("Can't add the playlist ", shown,
                  " to the record: ", error.message());
    ++job.record.failures;
  }
  job.printLine("Wrote the playlist ", shown, " of ", listed, " songs.");
}

}  // namespace

void FillJob::finishRecord() {
  if (!keepsRecord()) return;
  const std::string& playlist = record.playlistPath;
  if (bDryRun) {
    if (!playlist.empty()) {
      printLine("Would write the playlist ",
                joinPath(outputDir.native(), playlist));
    }
    return;
  }
  if (!playlist.empty()) writePlaylist(*this);
  if (const std::error_code error = record.sync()) {
    printLine("Can't write the record ",
              joinPath(outputDir.native(), kRecordName), ": ", error.message());
    ++record.failures;
  }
}
