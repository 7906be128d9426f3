#include "convert/size_estimate.h"

#include <algorithm>
#include <cmath>

namespace {

// What each container adds to the audio: a fixed part (headers, and for
// Vorbis its codebooks), a part for each second (frame headers, page
// headers and lacing, index entries), a part for each tag beyond its text,
// and the samples the encoder adds at both ends, in seconds of audio.
struct Overhead {
  double fixed;
  double perSecond;
  double perTag;
  double pictureFixed;
  double addedSeconds;
};

Overhead overheadOf(ConvertCodec codec, unsigned rate) {
  const double r = rate != 0 ? rate : 44100;
  switch (codec) {
    case ConvertCodec::Mp3:
      // ID3v2 header and padding-free frames; a Xing frame, and LAME's
      // delay (576 + 529 samples) and last frame's rest.
      return {10 + 418, 0, 11, 24, (576 + 529 + 576) / r};
    case ConvertCodec::Aac:
      // ftyp, moov with its tables (4 bytes a frame of 1024 samples in
      // stsz, a chunk offset a second), ilst entries; 1024 samples of
      // priming.
      return {900, 4 * r / 1024 + 8, 32, 24, 2048 / r};
    case ConvertCodec::Opus:
      // OpusHead and OpusTags pages; a page a second, two lacing bytes
      // for each 20 ms packet; 312 samples of pre-skip.
      return {19 + 2 * 28 + 16, 28 + 100, 4, 0, 312 / 48000.0};
    case ConvertCodec::Vorbis:
      // Identification, comment and setup headers (the codebooks) on their
      // pages; a page a second and its lacing.
      return {3900, 28 + 60, 4, 0, 0};
  }
  return {};
}

// The rate the encoder is given (see the transcoder).
unsigned encodedRate(ConvertCodec codec, unsigned source) {
  if (codec == ConvertCodec::Opus) return 48000;
  if (source == 0 || source > 48000) return 44100;
  return source;
}

}  // namespace

uint64_t estimateConvertedBytes(const ConvertFormat& format,
                                const SongShape& shape) {
  const unsigned rate = encodedRate(format.codec, shape.sampleRate);
  const Overhead o = overheadOf(format.codec, rate);
  const double seconds = static_cast<double>(shape.durationMs) / 1000.0;
  const double bytesPerSecond = format.kbps * 1000.0 / 8.0;
  const bool picture =
      format.codec == ConvertCodec::Mp3 || format.codec == ConvertCodec::Aac;
  double bytes = (seconds + o.addedSeconds) * bytesPerSecond +
                 seconds * o.perSecond + o.fixed + o.perTag * shape.tagCount +
                 static_cast<double>(shape.tagBytes);
  if (picture && shape.pictureBytes > 0) {
    bytes += o.pictureFixed + static_cast<double>(shape.pictureBytes);
  }
  return static_cast<uint64_t>(std::ceil(std::max(bytes, 0.0)));
}

uint64_t plannedConvertedBytes(const ConvertFormat& format,
                               const SongShape& shape) {
  const uint64_t estimate = estimateConvertedBytes(format, shape);
  // MP3 is written at a constant rate: its estimate was found within
  // 0.27 % below the real size. The others were found within 2.1 % below,
  // but for Vorbis of near silence, which comes out smaller.
  return format.codec == ConvertCodec::Mp3 ? estimate + estimate / 256
                                           : estimate + estimate / 32 + 4096;
}
