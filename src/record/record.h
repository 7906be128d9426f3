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
//   plinkard-record 2
//   song  <bytes>  <seconds>.<nanoseconds>  copied|moved|added  <checksum>
//         <milliseconds>  <artist>  <title>  <path>
//   folder  <path>
//   playlist  <bytes>  <seconds>.<nanoseconds>  <path>
//
// The first line names the format's version. Sizes and modification times
// are the target's, as read back from it after the write. A song was copied
// by a run that keeps the record (-r or -p), moved there (-m), or added by a
// copy of a run without -r or -p; only copied songs are ever removed. The
// checksum (16 hexadecimal digits, see contentChecksum) is of the bytes that
// landed; the playing time, artist and title are the song's tags. A field
// that is not known is "-". Paths and texts have '\', tab, LF and CR written
// as \\, \t, \n and \r, and a text that is "-" itself as \-; paths are below
// the output folder, with '/' between their elements. Songs come in the
// order they were copied. Format 1 had song lines of five fields (size,
// time, copied|moved, path) and is still read.

// The record's name in the output folder.
constexpr char kRecordName[] = ".plinkard-record";
// The format this version writes and reads.
constexpr unsigned kRecordVersion = 2;
// A record larger than this is taken for something else.
constexpr uint64_t kMaxRecordBytes = uint64_t{256} << 20;

// A file that a run wrote, as it left it.
struct RecordedFile {
  std::string path;  // below the output folder
  uint64_t size = 0;
  os::FileTime modified;
};

struct RecordedSong : RecordedFile {
  enum class Kind {
    Copied,  // by a run with -r or -p: removed when unchanged
    Moved,   // moved here with -m: the only copy, never removed
    Added,   // copied by a run without -r or -p: never removed
  };
  Kind kind = Kind::Copied;
  bool hasChecksum = false;
  uint64_t checksum = 0;   // of the bytes that landed, when hasChecksum
  int64_t playingMs = -1;  // -1: unknown
  std::string artist;      // empty: unknown
  std::string title;       // empty: unknown

  bool removable() const { return kind == Kind::Copied; }
};

struct Record {
  std::vector<RecordedSong> songs;      // in the order they were copied
  std::vector<std::string> folders;     // in the order they were made
  std::vector<RecordedFile> playlists;  // each path once
};

// A line of a record that could not be used, and why. Only the first
// kMaxProblems are told one by one; a last problem with `line` 0 then
// counts the others in `more`.
struct RecordProblem {
  size_t line = 0;  // from 1
  std::string why;
  size_t more = 0;
};
constexpr size_t kMaxProblems = 100;

enum class RecordFormat {
  Known,       // read; unusable lines are in the problems
  NotARecord,  // the first line is not a record's
  Newer,       // written in a later version of the format
};

// Reads a record line by line, keeping only what its valid lines say, so
// that the memory a record takes grows with its valid lines alone. Lines
// that cannot be used (an unknown kind, a field that does not read, a path
// that is not a plain path below the output folder, a last line without
// its line end) are left out and told in `problems`; empty lines and a CR
// at a line's end are skipped silently. A path given twice keeps its last
// line, in that line's place: a song copied anew after its earlier copy
// went.
class RecordParser {
 public:
  explicit RecordParser(Record& record, std::vector<RecordProblem>& problems)
      : record_(record), problems_(problems) {}

  // Takes the next line, without its LF; `ended` is whether an LF followed
  // it. False once the format is known not to be readable (see format()).
  bool line(std::string_view text, bool ended);
  // Ends the reading: the format, with the record complete when Known.
  RecordFormat finish();
  // The version the first line names.
  unsigned version() const { return version_; }

 private:
  Record& record_;
  std::vector<RecordProblem>& problems_;
  size_t number_ = 0;
  unsigned version_ = 0;
  RecordFormat format_ = RecordFormat::NotARecord;
  size_t untold_ = 0;  // problems beyond kMaxProblems

  void tell(size_t line, std::string why);
};

// Reads all of `text` into `record` as RecordParser does; `version` is the
// version the first line names.
RecordFormat parseRecord(std::string_view text, Record& record,
                         std::vector<RecordProblem>& problems,
                         unsigned& version);

// The whole text of `record`, its first line included.
std::string recordText(const Record& record);

// The line of one song, folder or playlist, LF included.
std::string songLine(const RecordedSong& song);
std::string folderLine(const std::string& path);
std::string playlistLine(const RecordedFile& playlist);

// The most that the line of a song of `size` bytes at `path` can take: its
// line with the widest time and a checksum, and the tags given.
uint64_t songLineBytes(std::string_view path, uint64_t size,
                       const RecordedSong& tags = RecordedSong());

// `relative` as the record holds a path: runs of '/' as one, no '/' at the
// end.
std::string recordPath(std::string_view relative);

// Whether `path` may stand in a record: relative, without empty, "." or
// ".." elements, without NUL bytes, and not the record itself.
bool validRecordPath(std::string_view path);

// Whether `name`, the last element of a path, is one of the program's own
// in the output folder: the record, and the files that the record, the
// playlist and the removal of songs use while they are written or checked.
// They all begin with ".plinkard-", in any letter case (as FAT takes it).
bool ownFileName(std::string_view name);

// Whether the file `now` is the one recorded as `then`: a regular file of
// the same size whose modification time is the same, within two seconds
// (FAT's resolution), or differs by a whole number of hours up to 26 (FAT
// keeps local time, and a card read in another time zone shows its times
// shifted).
bool unchangedSince(const RecordedFile& then, const os::FileStatus& now);

#endif  // PLINKARD_RECORD_RECORD_H_
