// The one unit that includes TagLib: a song's tags and playing time read
// through a stream that serves a bounded part of the file.

#include <taglib/apefooter.h>
#include <taglib/apetag.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4properties.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/mpegproperties.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tag.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <exception>

#include "os/read_file.h"
#include "tags/song_tags.h"
#include "tags/taglib_quiet.h"

namespace {

// A read-only view of a file for TagLib that serves at most `limit` bytes
// in all, however the reader seeks: reads past that end as the file's end.
class LimitedStream : public TagLib::IOStream {
 public:
  LimitedStream(const std::string& name, uint64_t size,
                const std::function<size_t(uint64_t, char*, size_t)>& read,
                uint64_t limit)
      : name_(name), size_(size), read_(read), budget_(limit) {}

  TagLib::FileName name() const override { return name_.c_str(); }

  TagLib::ByteVector readBlock(unsigned long length) override {
    if (length == 0 || position_ >= size_ || budget_ == 0) {
      return TagLib::ByteVector();
    }
    const uint64_t wanted =
        std::min<uint64_t>({length, size_ - position_, budget_});
    TagLib::ByteVector data(static_cast<unsigned int>(wanted), '\0');
    const size_t got =
        read_(position_, data.data(), static_cast<size_t>(wanted));
    data.resize(static_cast<unsigned int>(got));
    position_ += got;
    budget_ -= wanted;
    return data;
  }

  // Never written to.
  void writeBlock(const TagLib::ByteVector&) override {}
  void insert(const TagLib::ByteVector&, unsigned long,
              unsigned long) override {}
  void removeBlock(unsigned long, unsigned long) override {}
  void truncate(long) override {}
  bool readOnly() const override { return true; }
  uint64_t budgetLeft() const { return budget_; }
  bool isOpen() const override { return true; }

  void seek(long offset, Position from) override {
    const int64_t base = from == Beginning ? 0
                         : from == Current ? static_cast<int64_t>(position_)
                                           : static_cast<int64_t>(size_);
    const int64_t to = base + offset;
    position_ = to < 0 ? 0 : static_cast<uint64_t>(to);
  }
  long tell() const override { return static_cast<long>(position_); }
  long length() override { return static_cast<long>(size_); }

 private:
  std::string name_;
  uint64_t size_;
  const std::function<size_t(uint64_t, char*, size_t)>& read_;
  uint64_t budget_;
  uint64_t position_ = 0;
};

// Reads of a file in whole blocks, the last two kept: TagLib asks for
// many small pieces near each other (the head's tags and frames, the
// tail's), and each read of a file on a network share is a round trip.
// It fetches at most kTagReadLimit bytes in blocks.
class BlockReader {
 public:
  static constexpr size_t kBlock = size_t{64} * 1024;

  explicit BlockReader(const os::ReadOnlyFile& file) : file_(file) {}

  size_t read(uint64_t offset, char* data, size_t length) {
    size_t done = 0;
    // Once the blocks came to the reader's limit, scattered small reads
    // (a hostile file's) cost what they ask for and no more.
    if (fetched_ >= kTagReadLimit) {
      (void)file_.readAt(offset, data, length, done);
      return done;
    }
    while (done < length) {
      const Block& block = blockAt((offset + done) / kBlock * kBlock);
      const uint64_t from = offset + done - block.offset;
      if (from >= block.bytes.size()) break;
      const size_t piece = static_cast<size_t>(
          std::min<uint64_t>(length - done, block.bytes.size() - from));
      std::copy_n(block.bytes.data() + from, piece, data + done);
      done += piece;
    }
    return done;
  }

 private:
  struct Block {
    uint64_t offset = UINT64_MAX;
    std::string bytes;  // shorter than kBlock at the file's end
  };

  const Block& blockAt(uint64_t offset) {
    for (const Block& block : blocks_) {
      if (block.offset == offset) return block;
    }
    std::swap(blocks_[0], blocks_[1]);
    Block& block = blocks_[0];
    block.offset = offset;
    block.bytes.resize(kBlock);
    size_t got = 0;
    (void)file_.readAt(offset, block.bytes.data(), kBlock, got);
    block.bytes.resize(got);
    fetched_ += got;
    return block;
  }

  const os::ReadOnlyFile& file_;
  Block blocks_[2];
  uint64_t fetched_ = 0;
};

std::string text(const TagLib::String& value) { return value.to8Bit(true); }

// The first of the values the property map holds under `key`.
std::string firstValue(const TagLib::PropertyMap& properties, const char* key) {
  const auto found = properties.find(key);
  if (found == properties.end() || found->second.isEmpty()) return "";
  return text(found->second.front());
}

// The number a text like "2" or "2/3" starts with; 0 when none.
uint32_t leadingNumber(const std::string& value) {
  uint64_t number = 0;
  size_t i = value.find_first_not_of(' ');
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    number = number * 10 + static_cast<uint64_t>(value[i] - '0');
    if (number > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(number);
}

uint64_t picturesBytes(const TagLib::List<TagLib::FLAC::Picture*>& pictures) {
  uint64_t bytes = 0;
  for (const TagLib::FLAC::Picture* picture : pictures) {
    bytes += picture->data().size();
  }
  return bytes;
}

// What the tags and pictures take of the file, where the format tells.
uint64_t tagBytesOf(TagLib::File* file) {
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    uint64_t bytes = 0;
    if (mpeg->hasID3v2Tag()) {
      bytes += mpeg->ID3v2Tag()->header()->completeTagSize();
    }
    if (mpeg->hasID3v1Tag()) bytes += 128;
    if (mpeg->hasAPETag()) bytes += mpeg->APETag()->footer()->completeTagSize();
    return bytes;
  }
  if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
    uint64_t bytes = picturesBytes(flac->pictureList());
    if (flac->hasXiphComment()) bytes += flac->xiphComment()->render().size();
    if (flac->hasID3v2Tag()) {
      bytes += flac->ID3v2Tag()->header()->completeTagSize();
    }
    return bytes;
  }
  if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
    return xiph->render(false).size();
  }
  if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
    uint64_t bytes = 0;
    if (mp4->hasMP4Tag() && mp4->tag()->contains("covr")) {
      for (const auto& cover : mp4->tag()->item("covr").toCoverArtList()) {
        bytes += cover.data().size();
      }
    }
    return bytes;
  }
  return 0;
}

// The codec of the file's audio, as the type TagLib found it to be tells
// (by its content when the name's extension misleads).
std::string codecOf(TagLib::File* file) {
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    const int layer = mpeg->audioProperties()->layer();
    return layer == 3 ? "mp3" : layer == 2 ? "mp2" : "mp1";
  }
  if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
    switch (mp4->audioProperties()->codec()) {
      case TagLib::MP4::Properties::AAC:
        return "aac";
      case TagLib::MP4::Properties::ALAC:
        return "alac";
      default:
        return "";
    }
  }
  if (dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) return "vorbis";
  if (dynamic_cast<TagLib::Ogg::Opus::File*>(file)) return "opus";
  if (dynamic_cast<TagLib::FLAC::File*>(file) ||
      dynamic_cast<TagLib::Ogg::FLAC::File*>(file)) {
    return "flac";
  }
  return "";
}

void readFrom(TagLib::File* file, SongTags& tags) {
  if (const TagLib::Tag* tag = file->tag()) {
    tags.title = text(tag->title());
    tags.artist = text(tag->artist());
    tags.album = text(tag->album());
    tags.genre = text(tag->genre());
    tags.year = tag->year();
    tags.track = tag->track();
  }
  const TagLib::PropertyMap properties = file->properties();
  const std::string firstArtist = firstValue(properties, "ARTIST");
  if (!firstArtist.empty()) tags.artist = firstArtist;
  tags.albumArtist = firstValue(properties, "ALBUMARTIST");
  tags.disc = leadingNumber(firstValue(properties, "DISCNUMBER"));
  if (const TagLib::AudioProperties* audio = file->audioProperties()) {
    const int ms = audio->lengthInMilliseconds();
    if (ms > 0) tags.playingMs = ms;
  }
  tags.tagBytes = tagBytesOf(file);
  tags.codec = codecOf(file);
}

}  // namespace

namespace {

// Reads `stream` as audio into `tags`; false when it holds none.
bool readStream(LimitedStream& stream, SongTags& tags) {
  try {
    const TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Average);
    TagLib::File* file = ref.file();
    // A file without a sample rate held no audio frame that the reader
    // found: whatever tags it has belong to no song.
    if (file == nullptr || !file->isValid() ||
        file->audioProperties() == nullptr ||
        file->audioProperties()->sampleRate() <= 0) {
      return false;
    }
    readFrom(file, tags);
    tags.known = true;
  } catch (const std::exception&) {
    tags = SongTags();
  }
  return tags.known;
}

}  // namespace

SongTags readTags(const std::string& name, uint64_t size,
                  const std::function<size_t(uint64_t, char*, size_t)>& read,
                  uint64_t limit) {
  silenceTagLib();
  SongTags tags;
  LimitedStream byName(name, size, read, limit);
  if (readStream(byName, tags)) return tags;
  // A name that misleads (FLAC data named .mp3): the type by content alone,
  // within what is left of the limit.
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return tags;
  }
  LimitedStream byContent("", size, read, byName.budgetLeft());
  tags = SongTags();
  readStream(byContent, tags);
  return tags;
}

SongTags readTagsOfFile(const std::string& path) {
  os::ReadOnlyFile file;
  if (file.open(path)) return SongTags();
  BlockReader blocks(file);
  return readTags(path, file.status().size,
                  [&](uint64_t offset, char* data, size_t length) {
                    return blocks.read(offset, data, length);
                  });
}
