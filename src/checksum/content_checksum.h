#ifndef PLINKARD_CHECKSUM_CONTENT_CHECKSUM_H_
#define PLINKARD_CHECKSUM_CONTENT_CHECKSUM_H_

#include <cstdint>
#include <string_view>

// What tells a song's bytes from other bytes of the same size, without
// reading all of them: the 64-bit XXH3 hash of the file's size (eight
// bytes, least significant first), its first 64 KiB and its last 64 KiB
// (the bytes after the first 64 KiB, at most 64 KiB of them). Tags live at
// a song's ends (ID3, APE, FLAC's and Vorbis' headers), so an editor that
// rewrites them in place, keeping size and time, changes the checksum; a
// change in the middle of the audio of a larger file does not.
uint64_t contentChecksum(uint64_t size, std::string_view head,
                         std::string_view tail);

#endif  // PLINKARD_CHECKSUM_CONTENT_CHECKSUM_H_
