#ifndef PLINKARD_BENCH_MAKE_LIBRARY_H_
#define PLINKARD_BENCH_MAKE_LIBRARY_H_

#include <cstdint>
#include <string>

// Test data for the benchmarks, made once and reused. Each maker builds its
// result under a temporary name and renames it into place at the end, so an
// interrupted run never leaves a half-made library that looks complete.
// Each prints what it does to standard error and returns false after
// printing why it failed.

// A library of `songs` sparse .mp3 files of 2 to 12 MiB in
// ArtistNNNNN/AlbumNN folders (5 to 15 albums per artist, 8 to 12 songs per
// album), each album with a sparse cover.jpg and a small text playlist.m3u.
// The same `seed` gives the same names and sizes. Reuses `dir` when an
// earlier call made it with the same parameters.
bool makeSongLibrary(const std::string& dir, uint32_t songs, uint64_t seed);

// A library of `songs` real tagged .mp3 files in the folders of
// makeSongLibrary (no covers or playlists): each an ID3v2.3 tag (title
// "Song R", the artist's and the album's folder names, the track number)
// and 5 to 25 silent MPEG frames (0.18 to 0.9 seconds), about 1 to 4 KiB.
bool makeTaggedLibrary(const std::string& dir, uint32_t songs, uint64_t seed);

// `albums` album folders ArtistNNNNN/AlbumNN of 12 and 13 songs in turn
// (12.5 on average), ten to an artist, made as makeSongLibrary makes its
// albums.
bool makeAlbumLibrary(const std::string& dir, uint32_t albums, uint64_t seed);

// `files` files song-NNN.mp3 of `bytes` real (non-sparse) pseudo-random
// bytes each, for the copy comparison.
bool makeCopyLibrary(const std::string& dir, uint32_t files, uint64_t bytes);

// A used-songs list of `lines` lines. 1,024 of them name every tenth KiB
// size a library song can have (2048, 2058, ... 12278), so about a tenth
// of the songs are dropped; the others name sizes no song has.
bool makeUsedList(const std::string& path, uint32_t lines);

// A player's folder holding `files` empty songs named as the library names
// its songs ("NN Song R.mp3"), so that some of a library's targets are
// taken and most are not.
bool makePlayer(const std::string& dir, uint32_t files, uint64_t seed);

// `songs` FLAC songs song-NNN.flac of `seconds` each (stereo, 44.1 kHz,
// tones that move with a little noise, and tags), made with the ffmpeg
// command, for the conversion comparison.
bool makeFlacLibrary(const std::string& dir, uint32_t songs, double seconds);

// Copies every file of the folder `from` into the folder `to`, which is
// made anew (not timed: it sets up a move).
bool copyFolder(const std::string& from, const std::string& to);

// Removes `path` with everything below it; a missing path is fine.
bool removeTree(const std::string& path);

#endif  // PLINKARD_BENCH_MAKE_LIBRARY_H_
