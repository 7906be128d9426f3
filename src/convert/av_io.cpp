#include <climits>
#include <cstdio>

#include "convert/av_util.h"
#include "os/pending_file.h"

namespace convert_av {

namespace {

constexpr int kBufferBytes = 64 << 10;

int reopen(AVFormatContext* s, AVIOContext** pb, const char* /*url*/, int flags,
           AVDictionary** /*options*/) {
  if ((flags & AVIO_FLAG_WRITE) != 0) return AVERROR(EINVAL);
  const auto* writer = static_cast<const DescriptorIo*>(s->opaque);
  auto reader = std::make_unique<DescriptorIo>();
  const int error = reader->open(*writer->file(), false);
  if (error < 0) return error;
  *pb = reader.release()->context();
  return 0;
}

int closeReopened(AVFormatContext* /*s*/, AVIOContext* pb) {
  delete static_cast<DescriptorIo*>(pb->opaque);
  return 0;
}

}  // namespace

std::string reason(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

std::string failure(const char* what, int code) {
  return std::string(what) + ": " + reason(code);
}

DescriptorIo::~DescriptorIo() {
  if (context_ == nullptr) return;
  av_freep(&context_->buffer);
  avio_context_free(&context_);
}

int DescriptorIo::open(const os::Descriptor& file, bool write) {
  file_ = &file;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (buffer == nullptr) return AVERROR(ENOMEM);
  context_ = avio_alloc_context(buffer, kBufferBytes, write ? 1 : 0, this,
                                write ? nullptr : &DescriptorIo::read,
                                write ? &DescriptorIo::write : nullptr,
                                &DescriptorIo::seek);
  if (context_ != nullptr) return 0;
  av_free(buffer);
  return AVERROR(ENOMEM);
}

void DescriptorIo::allowReopen(AVFormatContext* output) {
  output->opaque = output->pb->opaque;
  output->io_open = &reopen;
  output->io_close2 = &closeReopened;
}

int DescriptorIo::fail(const std::error_code& error) {
  if (!error_) error_ = error;
  return AVERROR(error.value());
}

int DescriptorIo::read(void* opaque, uint8_t* data, int size) {
  auto* io = static_cast<DescriptorIo*>(opaque);
  size_t got = 0;
  if (const std::error_code failed =
          os::readAt(*io->file_, static_cast<uint64_t>(io->position_), data,
                     static_cast<size_t>(size), got)) {
    return io->fail(failed);
  }
  if (got == 0) return AVERROR_EOF;
  io->position_ += static_cast<int64_t>(got);
  return static_cast<int>(got);
}

int DescriptorIo::write(void* opaque, uint8_t* data, int size) {
  auto* io = static_cast<DescriptorIo*>(opaque);
  if (const std::error_code failed =
          os::writeAt(*io->file_, static_cast<uint64_t>(io->position_), data,
                      static_cast<size_t>(size))) {
    return io->fail(failed);
  }
  io->position_ += size;
  return size;
}

int64_t DescriptorIo::seek(void* opaque, int64_t offset, int whence) {
  auto* io = static_cast<DescriptorIo*>(opaque);
  uint64_t size = 0;
  if ((whence & AVSEEK_SIZE) != 0 || (whence & ~AVSEEK_FORCE) == SEEK_END) {
    if (const std::error_code failed = os::sizeOf(*io->file_, size)) {
      return io->fail(failed);
    }
    if ((whence & AVSEEK_SIZE) != 0) return static_cast<int64_t>(size);
  }
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += io->position_;
      break;
    case SEEK_END:
      offset += static_cast<int64_t>(size);
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset < 0) return AVERROR(EINVAL);
  io->position_ = offset;
  return offset;
}

}  // namespace convert_av
