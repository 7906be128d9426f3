// Feeds arbitrary bytes to the tag reader as a song's file: the first byte
// chooses the name's extension, so each of TagLib's readers sees them, the
// rest is the file. Nothing may crash, and no reading may pass the file's
// end or take more than the reader's limit. The tags read must come back
// whole from the song cache's blob, and the same bytes read as such a blob
// must not crash its decoder.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cache/tag_blob.h"
#include "tags/song_tags.h"

namespace {

bool sameTags(const SongTags& a, const SongTags& b) {
  return a.title == b.title && a.artist == b.artist &&
         a.albumArtist == b.albumArtist && a.album == b.album &&
         a.disc == b.disc && a.track == b.track && a.year == b.year &&
         a.genre == b.genre && a.playingMs == b.playingMs &&
         a.tagBytes == b.tagBytes && a.known == b.known && a.codec == b.codec;
}

const char* const kNames[] = {"s.mp3", "s.flac", "s.ogg",  "s.opus", "s.m4a",
                              "s.wma", "s.wav",  "s.aiff", "s.ape",  "s.mpc",
                              "s.wv",  "s.spx",  "s.tta",  "s"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* name = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
  const uint8_t* file = data + 1;
  const uint64_t length = size - 1;
  uint64_t served = 0;
  const uint64_t limit = 1 << 20;
  const SongTags tags = readTags(
      name, length,
      [&](uint64_t offset, char* buffer, size_t wanted) -> size_t {
        if (offset > length || wanted > length - offset) std::abort();
        served += wanted;
        std::memcpy(buffer, file + offset, wanted);
        return wanted;
      },
      limit);
  if (served > limit) std::abort();
  if (!tags.known && (!tags.title.empty() || tags.playingMs != -1)) {
    std::abort();
  }
  SongTags back;
  if (!unpackTags(packTags(tags), back) || !sameTags(back, tags)) std::abort();
  unpackTags(std::string_view(reinterpret_cast<const char*>(data), size), back);
  return 0;
}
