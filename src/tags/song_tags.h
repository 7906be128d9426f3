#ifndef PLINKARD_TAGS_SONG_TAGS_H_
#define PLINKARD_TAGS_SONG_TAGS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "os/descriptor.h"
#include "os/file_status.h"

// What a song's file says about the music in it. Texts are UTF-8, empty
// when the file has none; numbers are 0 when it has none.
struct SongTags {
  std::string title;
  std::string artist;  // the first artist the file names
  std::string albumArtist;
  std::string album;
  uint32_t disc = 0;
  uint32_t track = 0;
  uint32_t year = 0;
  std::string genre;
  int64_t playingMs = -1;  // -1: unknown
  uint64_t tagBytes = 0;   // what its tags and pictures take of the file
  // Whether the file could be read as audio at all; a file that could not
  // has no tags and an unknown playing time.
  bool known = false;
  // The codec of its audio, by FFmpeg's short name ("mp3", "aac", "alac",
  // "flac", "vorbis", "opus"); "" for the others and when unknown.
  std::string codec;
};

// The artist a playlist names for the song: its artist tag, else its album
// artist tag.
inline const std::string& playlistArtist(const SongTags& tags) {
  return tags.artist.empty() ? tags.albumArtist : tags.artist;
}

// The most a reading of one file may read of it, in bytes, wherever it
// reads: a large file that is no audio is never read to its end.
constexpr uint64_t kTagReadLimit = 16 << 20;

// Reads the tags and the playing time of the file `data` of `size` bytes
// that `read(offset, buffer, length)` reads from (returning the bytes read,
// fewer only at the end or on an error); `name` decides the file's type by
// its extension first, then by content. Reads at most `limit` bytes. Never
// fails: a file that is no audio, cut short or hostile gives `known` false.
SongTags readTags(const std::string& name, uint64_t size,
                  const std::function<size_t(uint64_t, char*, size_t)>& read,
                  uint64_t limit = kTagReadLimit);

// readTags of the file at `path`, read through the platform layer; a file
// that cannot be opened gives `known` false too.
SongTags readTagsOfFile(const std::string& path);

// A song for readSongs: its path, and where its tags go.
struct SongToRead {
  const std::string* path;
  SongTags* tags;
};

// The size and time a look at song `index` found a moment ago (the
// scan's), which readSongs then takes instead of looking again; false
// when there was none.
using ScannedStatus =
    std::function<bool(size_t index, uint64_t& size, int64_t& modifiedNs)>;

// What readSongs found of a song.
struct SongRead {
  // Its status as found (links followed; Missing when it is gone, Other
  // when it cannot be looked at).
  os::FileStatus status;
  // Whether its tags came from the file; false when `cached` answered.
  bool readFromFile = false;
};

// For each of `songs`, its status (the one `scanned` gives, when given and
// it has one, a regular file's) and then, when `cached(index, status,
// tags)` does not answer (returns false) for that status, its tags read
// from the file into *tags (emptied when it is no regular file). Many
// files are read at once, by up to `threads` threads (0: one at a time on
// the caller's thread); `cached` and `scanned` must be safe to call from
// several threads at once. The results come by position in `songs`.
std::vector<SongRead> readSongs(
    const std::vector<SongToRead>& songs,
    const std::function<bool(size_t, const os::FileStatus&, SongTags&)>& cached,
    size_t threads, const ScannedStatus& scanned = nullptr);

// Adds to the MP4 file open for reading and writing on `file` each of
// `tags` (by TagLib's property names: "TITLE", "REPLAYGAIN_TRACK_GAIN")
// that it lacks, changing the file in place; names TagLib has no atom for
// go into iTunes' free-form atoms. Returns "" or what failed, in the
// system's words where it was the system.
std::string addMissingMp4Tags(
    const os::Descriptor& file,
    const std::vector<std::pair<std::string, std::string>>& tags);

#endif  // PLINKARD_TAGS_SONG_TAGS_H_
