#include "cache/tag_blob.h"

#include <cstdint>

namespace {

// Seven bits to a byte, the lowest first; the high bit says more follow.
void putNumber(std::string& blob, uint64_t number) {
  while (number >= 0x80) {
    blob.push_back(static_cast<char>((number & 0x7f) | 0x80));
    number >>= 7;
  }
  blob.push_back(static_cast<char>(number));
}

void putText(std::string& blob, const std::string& text) {
  putNumber(blob, text.size());
  blob += text;
}

// Reads what putNumber and putText wrote, from the front of `rest`.
class BlobReader {
 public:
  explicit BlobReader(std::string_view blob) : rest_(blob) {}

  bool number(uint64_t& number) {
    number = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
      if (rest_.empty()) return false;
      const auto byte = static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
      number |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }

  bool number32(uint32_t& number) {
    uint64_t wide = 0;
    if (!this->number(wide) || wide > UINT32_MAX) return false;
    number = static_cast<uint32_t>(wide);
    return true;
  }

  bool text(std::string& text) {
    uint64_t length = 0;
    if (!number(length) || length > rest_.size()) return false;
    text.assign(rest_.data(), static_cast<size_t>(length));
    rest_.remove_prefix(static_cast<size_t>(length));
    return true;
  }

  bool atEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

}  // namespace

std::string packTags(const SongTags& tags) {
  std::string blob;
  blob.reserve(16 + tags.title.size() + tags.artist.size() +
               tags.albumArtist.size() + tags.album.size() + tags.genre.size() +
               tags.codec.size());
  putNumber(blob, tags.known ? 1 : 0);
  putNumber(blob, tags.disc);
  putNumber(blob, tags.track);
  putNumber(blob, tags.year);
  // An unknown time (-1) is kept as 0, a time of t milliseconds as t + 1.
  putNumber(blob,
            tags.playingMs < 0 ? 0 : static_cast<uint64_t>(tags.playingMs) + 1);
  putNumber(blob, tags.tagBytes);
  putText(blob, tags.title);
  putText(blob, tags.artist);
  putText(blob, tags.albumArtist);
  putText(blob, tags.album);
  putText(blob, tags.genre);
  putText(blob, tags.codec);
  return blob;
}

bool unpackTags(std::string_view blob, SongTags& tags) {
  // A kept time is the time + 1, so the largest is 2^63.
  constexpr uint64_t kMostPlaying = uint64_t{1} << 63;
  BlobReader reader(blob);
  uint64_t known = 0, playing = 0;
  if (!reader.number(known) || known > 1 || !reader.number32(tags.disc) ||
      !reader.number32(tags.track) || !reader.number32(tags.year) ||
      !reader.number(playing) || playing > kMostPlaying ||
      !reader.number(tags.tagBytes)) {
    return false;
  }
  tags.known = known == 1;
  tags.playingMs = playing == 0 ? -1 : static_cast<int64_t>(playing - 1);
  return reader.text(tags.title) && reader.text(tags.artist) &&
         reader.text(tags.albumArtist) && reader.text(tags.album) &&
         reader.text(tags.genre) && reader.text(tags.codec) && reader.atEnd();
}
