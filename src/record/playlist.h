#ifndef PLINKARD_RECORD_PLAYLIST_H_
#define PLINKARD_RECORD_PLAYLIST_H_

#include <string>
#include <vector>

// An M3U playlist as players read it: "#EXTM3U" first, then one line per
// song, LF line ends. The paths are relative to the playlist's folder with
// '/' between elements, as the file system holds them (UTF-8 on FAT).

// The line for the song `song` in the playlist `playlist`, both paths below
// the output folder: "../" for each folder of the playlist's own that the
// song is not in. A path that would begin with '#', a comment to players,
// begins with "./". Empty for a song whose name holds a line end, which a
// playlist cannot hold.
std::string playlistEntry(const std::string& song, const std::string& playlist);

// The playlist `playlist` of `songs`, in their order, and in `listed` how
// many of them it holds.
std::string playlistText(const std::vector<std::string>& songs,
                         const std::string& playlist, size_t& listed);

#endif  // PLINKARD_RECORD_PLAYLIST_H_
