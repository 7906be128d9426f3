#ifndef PLINKARD_CONVERT_TRANSCODER_H_
#define PLINKARD_CONVERT_TRANSCODER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

#include "convert/av_util.h"
#include "convert/convert_format.h"

namespace convert_av {

// One song from its source's descriptor into a container on another
// descriptor: decoded, resampled and down-mixed to what the encoder takes,
// encoded, with the source's tags and cover. Each step returns "" or what
// failed with the library's reason ("Can't decode: Invalid data found when
// processing input").
class Transcoder {
 public:
  Transcoder(const ConvertFormat& format, std::function<bool()> stop);

  // Opens the source; `name` is only a hint to the probe.
  std::string openInput(const os::Descriptor& file, const std::string& name);
  // Whether the source's audio is in the format already (by its codec).
  bool inFormat() const;
  // The source's playing time as its container tells it; 0 when unknown.
  uint64_t durationMs() const;

  // What openInput found, for reading facts: the source's container, its
  // audio stream and the cover that would be carried over (null: none).
  const AVFormatContext& input() const { return *input_; }
  const AVStream& audio() const { return *input_->streams[audio_]; }
  const AVStream* picture() const {
    return picture_ >= 0 ? input_->streams[picture_] : nullptr;
  }

  // Starts the container on `file`, which must be readable too.
  std::string openOutput(const os::Descriptor& file);
  // Converts everything, asking `stop` after each packet of the source.
  std::string run();
  bool interrupted() const { return interrupted_; }

  // The system's error behind a failure to write or read, if any.
  std::error_code systemError() const;
  // Whether that error was the target's.
  bool targetSide() const { return !inIo_.error(); }

 private:
  void findPicture();
  std::string openDecoder(const AVCodec* decoder);
  std::string openEncoder();
  std::string addStreams();
  std::string writeHeader();
  std::string decode(const AVPacket* packet);
  std::string take(const AVFrame& frame);
  std::string makeResampler(const AVFrame& frame);
  std::string resample(const AVFrame* frame);
  std::string pushSamples(bool last);
  std::string encode(const AVFrame* frame);
  std::string finish();

  struct QuietLibrary {
    QuietLibrary();
  };
  QuietLibrary quiet_;
  ConvertFormat format_;
  std::function<bool()> stop_;
  bool interrupted_ = false;

  DescriptorIo inIo_;
  Input input_;
  int audio_ = -1;
  int picture_ = -1;
  Codec decoder_;
  int decodeError_ = 0;  // the last packet that could not be decoded
  uint64_t framesDecoded_ = 0;

  DescriptorIo outIo_;
  Output output_;
  Codec encoder_;
  int frameSize_ = 0;
  bool padLast_ = false;  // the encoder takes no short last frame
  Resampler resampler_;
  Fifo fifo_;
  Frame decoded_;
  Frame converted_;  // the resampler's output, before the FIFO
  int convertedRoom_ = 0;
  Frame encoded_;  // a frame for the encoder
  Packet packet_;
  int64_t nextPts_ = 0;
};

}  // namespace convert_av

#endif  // PLINKARD_CONVERT_TRANSCODER_H_
