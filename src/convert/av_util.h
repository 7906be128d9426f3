#ifndef PLINKARD_CONVERT_AV_UTIL_H_
#define PLINKARD_CONVERT_AV_UTIL_H_

// FFmpeg's headers and what the files of this folder share about them;
// nothing outside src/convert includes this.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <string>
#include <system_error>

#include "os/descriptor.h"

namespace convert_av {

// The library's description of the error `code` ("Invalid data found when
// processing input").
std::string reason(int code);
// "<what>: <reason>".
std::string failure(const char* what, int code);

struct InputClose {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputFree {
  void operator()(AVFormatContext* c) const { avformat_free_context(c); }
};
struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ResamplerFree {
  void operator()(SwrContext* c) const { swr_free(&c); }
};
struct FifoFree {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using Input = std::unique_ptr<AVFormatContext, InputClose>;
using Output = std::unique_ptr<AVFormatContext, OutputFree>;
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Resampler = std::unique_ptr<SwrContext, ResamplerFree>;
using Fifo = std::unique_ptr<AVAudioFifo, FifoFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

// An AVIOContext over a descriptor of the platform layer, at a position of
// its own, so that a writer and a reader of one file do not move each
// other. The descriptor must outlive it.
class DescriptorIo {
 public:
  DescriptorIo() = default;
  ~DescriptorIo();
  DescriptorIo(const DescriptorIo&) = delete;
  DescriptorIo& operator=(const DescriptorIo&) = delete;

  // 0 or a negative AVERROR.
  int open(const os::Descriptor& file, bool write);
  AVIOContext* context() const { return context_; }
  const os::Descriptor* file() const { return file_; }
  // The system's error behind the first failed read, write or seek.
  const std::error_code& error() const { return error_; }

  // Lets a muxer open the file it writes a second time, for reading (the
  // index moved to the front of an M4A file); `output` must be using it.
  static void allowReopen(AVFormatContext* output);

 private:
  int fail(const std::error_code& error);
  static int read(void* opaque, uint8_t* data, int size);
  static int write(void* opaque, uint8_t* data, int size);
  static int64_t seek(void* opaque, int64_t offset, int whence);

  const os::Descriptor* file_ = nullptr;
  AVIOContext* context_ = nullptr;
  int64_t position_ = 0;
  std::error_code error_;
};

}  // namespace convert_av

#endif  // PLINKARD_CONVERT_AV_UTIL_H_
