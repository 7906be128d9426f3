#ifndef PLINKARD_RECORD_RECORD_H_
#define PLINKARD_RECORD_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "os/file_status.h"

// The record that a run keeps in its output folder of what it put there:
// the songs it copied or moved, the folders it made and the playlists it
// wrote, so that a later run can take its songs away again and list them.
// It is a text file of lines with tab-separated fields:
//
//   plinkard-record 1
//   song    <bytes>  <seconds>.<nanoseconds>  copied|moved  <path>
//   folder  <path>
//   playlist  <bytes>  <seconds>.<nanoseconds>  <path>
//
// The first line names the format's version. Sizes and modification times
// are the target's, as read back from it after the write. Paths are below
// the output folder, with '/' between their elements, and '\', tab, LF and
// CR written as \\, \t, \n and \r. Songs come in the order they were copied.

// The record's name in the output folder.
constexpr char kRecordName[] = ".plinkard-record";
// The format this version writes and reads.
constexpr unsigned kRecordVersion = 1;

// A file that a run wrote, as it left it.
struct RecordedFile {
  std::string path;  // below the output folder
  uint64_t size = 0;
  os::FileTime modified;
};

struct RecordedSong : RecordedFile {
  bool moved = false;      // moved here with -m: the only copy
  int64_t playingMs = -1;  // -1: unknown
  std::string artist;      // empty: unknown
  std::string title;       // empty: unknown
};

struct Record {
  std::vector<RecordedSong> songs;      // in the order they were copied
  std::vector<std::string> folders;     // in the order they were made
  std::vector<RecordedFile> playlists;  // each path once
};

// A line of a record that could not be used, and why.
struct RecordProblem {
  size_t line = 0;  // from 1
  std::string why;
};

enum class RecordFormat {
  Known,       // read; unusable lines are in the problems
  NotARecord,  // the first line is not a record's
  Newer,       // written in a later version of the format
};

// Reads `text` into `record`. Lines that cannot be used (an unknown kind,
// a field that does not read, a path that is not a plain path below the
// output folder, a last line without its line end) are left out and told
// in `problems`; empty lines and a CR at a line's end are skipped
// silently. A path given twice keeps its last
// line, in that line's place: a song copied anew after its earlier copy
// went. `version` is the version the first line names.
RecordFormat parseRecord(std::string_view text, Record& record,
                         std::vector<RecordProblem>& problems,
                         unsigned& version);

// The whole text of `record`, its first line included.
std::string recordText(const Record& record);

// The line of one song, folder or playlist, LF included.
std::string songLine(const RecordedSong& song);
std::string folderLine(const std::string& path);
std::string playlistLine(const RecordedFile& playlist);

// The most that a song's line can take: its line with the widest time.
uint64_t songLineBytes(std::string_view path, uint64_t size);

// `relative` as the record holds a path: runs of '/' as one, no '/' at the
// end.
std::string recordPath(std::string_view relative);

// Whether `path` may stand in a record: relative, without empty, "." or
// ".." elements, without NUL bytes, and not the record itself.
bool validRecordPath(std::string_view path);

// Whether the file `now` is the one recorded as `then`: a regular file of
// the same size whose modification time is the same, within two seconds
// (FAT's resolution), or differs by a whole number of hours up to 26 (FAT
// keeps local time, and a card read in another time zone shows its times
// shifted).
bool unchangedSince(const RecordedFile& then, const os::FileStatus& now);

#endif  // PLINKARD_RECORD_RECORD_H_
