#ifndef PLINKARD_RECORD_PLAYLIST_H_
#define PLINKARD_RECORD_PLAYLIST_H_

#include <string>
#include <vector>

#include "record/record.h"

// An M3U playlist as players read it: "#EXTM3U" first, then one line per
// song, LF line ends. The paths are relative to the playlist's folder with
// '/' between elements, as the file system holds them (UTF-8 on FAT).

// The line for the song `song` in the playlist `playlist`, both paths below
// the output folder: "../" for each folder of the playlist's own that the
// song is not in. A path that would begin with '#', a comment to players,
// begins with "./". Empty for a song whose name holds a line end, which a
// playlist cannot hold.
std::string playlistEntry(const std::string& song, const std::string& playlist);

// The line "#EXTINF:<seconds>,<artist> - <title>" (without an artist,
// "#EXTINF:<seconds>,<title>") that goes before a song whose title is
// known, LF included; seconds rounded, -1 when unknown; line ends in the
// tags become blanks. Empty for a song without a title.
std::string extinfLine(const RecordedSong& song);

// The playlist `playlist` of `songs`, in their order, each after its
// extinfLine, and in `listed` how many of them it holds.
std::string playlistText(const std::vector<RecordedSong>& songs,
                         const std::string& playlist, size_t& listed);

#endif  // PLINKARD_RECORD_PLAYLIST_H_
