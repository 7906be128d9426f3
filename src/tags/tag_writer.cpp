// Tags written into a song's file in place, through TagLib, where the
// converter's own writer leaves them out.

#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <exception>

#include "os/pending_file.h"
#include "tags/song_tags.h"
#include "tags/taglib_quiet.h"

namespace {

constexpr size_t kMoveChunk = 1 << 16;

// A file open for reading and writing, for TagLib to change in place. The
// first error of the system is kept; TagLib sees a failed read as the end.
class DescriptorStream : public TagLib::IOStream {
 public:
  explicit DescriptorStream(const os::Descriptor& file) : file_(file) {}

  TagLib::FileName name() const override { return ""; }
  TagLib::ByteVector readBlock(unsigned long length) override {
    TagLib::ByteVector data(static_cast<unsigned int>(length), '\0');
    const size_t got = readAt(position_, data.data(), length);
    data.resize(static_cast<unsigned int>(got));
    position_ += got;
    return data;
  }
  void writeBlock(const TagLib::ByteVector& data) override {
    note(os::writeAt(file_, position_, data.data(), data.size()));
    position_ += data.size();
  }
  void insert(const TagLib::ByteVector& data, unsigned long start,
              unsigned long replace) override {
    moveRest(start + replace, start + data.size());
    position_ = start;
    writeBlock(data);
  }
  void removeBlock(unsigned long start, unsigned long length) override {
    moveRest(start + length, start);
  }
  bool readOnly() const override { return false; }
  bool isOpen() const override { return true; }
  void seek(long offset, Position from) override {
    const int64_t base = from == Beginning ? 0
                         : from == Current ? static_cast<int64_t>(position_)
                                           : static_cast<int64_t>(size());
    position_ = static_cast<uint64_t>(std::max<int64_t>(base + offset, 0));
  }
  long tell() const override { return static_cast<long>(position_); }
  long length() override { return static_cast<long>(size()); }
  void truncate(long length) override {
    note(os::resize(file_, static_cast<uint64_t>(length)));
  }

  const std::error_code& error() const { return error_; }

 private:
  void note(const std::error_code& error) {
    if (error && !error_) error_ = error;
  }
  uint64_t size() {
    uint64_t bytes = 0;
    note(os::sizeOf(file_, bytes));
    return bytes;
  }
  // Reads up to `length` bytes at `offset`, fewer only at the end or on an
  // error.
  size_t readAt(uint64_t offset, char* data, size_t length) {
    size_t done = 0;
    while (done < length) {
      size_t got = 0;
      const std::error_code failure =
          os::readAt(file_, offset + done, data + done, length - done, got);
      note(failure);
      if (failure || got == 0) break;
      done += got;
    }
    return done;
  }
  void moveRest(uint64_t from, uint64_t to);

  const os::Descriptor& file_;
  uint64_t position_ = 0;
  std::error_code error_;
};

// Moves the bytes from `from` to the end of the file so that they begin at
// `to`, chunk by chunk from the end that is not overwritten first, and
// ends the file after them.
void DescriptorStream::moveRest(uint64_t from, uint64_t to) {
  const uint64_t end = size();
  if (from == to || from > end || error_) return;
  const uint64_t count = end - from;
  std::vector<char> chunk(kMoveChunk);
  for (uint64_t done = 0; done < count && !error_;) {
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(kMoveChunk, count - done));
    // Growing: the last chunk first; shrinking: the first.
    const uint64_t at = to > from ? count - done - n : done;
    if (readAt(from + at, chunk.data(), n) != n) break;
    note(os::writeAt(file_, to + at, chunk.data(), n));
    done += n;
  }
  if (to < from) truncate(static_cast<long>(to + count));
}

// Adds the tags `file` lacks; names TagLib has no atom for go into
// free-form atoms of iTunes' namespace, as players look for ReplayGain.
void addTo(TagLib::MP4::Tag& tag,
           const std::vector<std::pair<std::string, std::string>>& tags) {
  TagLib::PropertyMap properties = tag.properties();
  TagLib::PropertyMap added = properties;
  for (const auto& [name, value] : tags) {
    const TagLib::String key(name, TagLib::String::UTF8);
    if (properties.contains(key)) continue;
    added.replace(
        key, TagLib::StringList(TagLib::String(value, TagLib::String::UTF8)));
  }
  const TagLib::PropertyMap refused = tag.setProperties(added);
  for (const auto& [key, values] : refused) {
    tag.setItem("----:com.apple.iTunes:" + key, TagLib::MP4::Item(values));
  }
}

}  // namespace

std::string addMissingMp4Tags(
    const os::Descriptor& file,
    const std::vector<std::pair<std::string, std::string>>& tags) {
  silenceTagLib();
  DescriptorStream stream(file);
  try {
    TagLib::MP4::File mp4(&stream, false);
    if (!mp4.isValid() || mp4.tag() == nullptr) {
      return stream.error() ? stream.error().message() : "not an MP4 file";
    }
    addTo(*mp4.tag(), tags);
    if (!mp4.save() && !stream.error()) return "TagLib could not save them";
  } catch (const std::exception& error) {
    return error.what();
  }
  return stream.error() ? stream.error().message() : std::string();
}
