#include "convert/transcoder.h"

#include <algorithm>
#include <utility>

#include "convert/song_tags.h"

namespace convert_av {

namespace {

// A frame for encoders that take any length.
constexpr int kFreeFrameSize = 4096;
// libopus takes at most 256 kbit/s for each channel.
constexpr int64_t kOpusMaxPerChannel = 256000;

struct CodecRow {
  ConvertCodec codec;
  AVCodecID id;
  const char* encoder;
  const char* muxer;
};

const CodecRow kCodecs[] = {
    {ConvertCodec::Mp3, AV_CODEC_ID_MP3, "libmp3lame", "mp3"},
    {ConvertCodec::Aac, AV_CODEC_ID_AAC, "aac", "ipod"},
    {ConvertCodec::Opus, AV_CODEC_ID_OPUS, "libopus", "opus"},
    {ConvertCodec::Vorbis, AV_CODEC_ID_VORBIS, "libvorbis", "ogg"},
};

const CodecRow& rowOf(ConvertCodec codec) {
  for (const CodecRow& row : kCodecs) {
    if (row.codec == codec) return row;
  }
  return kCodecs[0];
}

// The rate the encoder gets: 48 kHz for Opus; 44.1 kHz from a source above
// 48 kHz; otherwise the source's where the encoder takes it, else the
// nearest rate above it that it takes.
int chooseRate(ConvertCodec codec, const AVCodec& encoder, int source) {
  if (codec == ConvertCodec::Opus) return 48000;
  if (source > 48000) return 44100;
  if (encoder.supported_samplerates == nullptr) return source;
  int above = 0;
  for (const int* rate = encoder.supported_samplerates; *rate != 0; ++rate) {
    if (*rate == source) return source;
    if (*rate > source && (above == 0 || *rate < above)) above = *rate;
  }
  return above != 0 ? above : 44100;
}

// Whether a cover of `id` can go into the container of `codec`.
bool holdsPicture(ConvertCodec codec, AVCodecID id) {
  if (codec == ConvertCodec::Mp3) return true;
  return codec == ConvertCodec::Aac &&
         (id == AV_CODEC_ID_MJPEG || id == AV_CODEC_ID_PNG ||
          id == AV_CODEC_ID_BMP);
}

// Ogg keeps its comments with the stream, the others with the container.
bool tagsOnStream(ConvertCodec codec) {
  return codec == ConvertCodec::Opus || codec == ConvertCodec::Vorbis;
}

// What the encoder is given: at most two channels, the rate and sample
// format it takes, the bitrate.
void configureEncoder(const ConvertFormat& format, const AVCodec& codec,
                      const AVCodecContext& decoder, AVCodecContext& context) {
  const int channels = std::clamp(decoder.ch_layout.nb_channels, 1, 2);
  av_channel_layout_default(&context.ch_layout, channels);
  context.sample_rate = chooseRate(format.codec, codec, decoder.sample_rate);
  context.sample_fmt =
      codec.sample_fmts != nullptr ? codec.sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  context.bit_rate = int64_t{format.kbps} * 1000;
  if (format.codec == ConvertCodec::Opus) {
    context.bit_rate =
        std::min(context.bit_rate, kOpusMaxPerChannel * channels);
  }
  // Sizes close to the bitrate, so that a fill can be planned by them:
  // Vorbis's bitrate managed to stay at most the nominal one (Opus's
  // variable rate is constrained by an option).
  if (format.codec == ConvertCodec::Vorbis) {
    context.rc_max_rate = context.bit_rate;
  }
  context.time_base = AVRational{1, context.sample_rate};
}

}  // namespace

// The library says nothing on the console: every failure comes back with
// its reason, and the program prints what it means for the song.
Transcoder::QuietLibrary::QuietLibrary() {
  static const bool quiet = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)quiet;
}

Transcoder::Transcoder(const ConvertFormat& format, std::function<bool()> stop)
    : quiet_(),
      format_(format),
      stop_(std::move(stop)),
      decoded_(av_frame_alloc()),
      converted_(av_frame_alloc()),
      encoded_(av_frame_alloc()),
      packet_(av_packet_alloc()) {}

std::string Transcoder::openInput(const os::Descriptor& file,
                                  const std::string& name) {
  int error = inIo_.open(file, false);
  if (error < 0) return failure("Can't read", error);
  AVFormatContext* context = avformat_alloc_context();
  if (context == nullptr) return failure("Can't read", AVERROR(ENOMEM));
  context->pb = inIo_.context();
  context->flags |= AVFMT_FLAG_CUSTOM_IO;
  // On failure the context is freed.
  error = avformat_open_input(&context, name.c_str(), nullptr, nullptr);
  if (error < 0) return failure("Can't open as audio", error);
  input_.reset(context);
  error = avformat_find_stream_info(context, nullptr);
  if (error < 0) return failure("Can't read the streams", error);
  const AVCodec* decoder = nullptr;
  audio_ =
      av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (audio_ < 0) return failure("Can't decode", audio_);
  findPicture();
  return inFormat() ? std::string() : openDecoder(decoder);
}

bool Transcoder::inFormat() const {
  return input_->streams[audio_]->codecpar->codec_id == rowOf(format_.codec).id;
}

uint64_t Transcoder::durationMs() const {
  const int64_t duration = input_->duration;
  return duration > 0 ? static_cast<uint64_t>(duration / 1000) : 0;
}

std::error_code Transcoder::systemError() const {
  return inIo_.error() ? inIo_.error() : outIo_.error();
}

void Transcoder::findPicture() {
  for (unsigned i = 0; i < input_->nb_streams; ++i) {
    const AVStream& stream = *input_->streams[i];
    if ((stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 &&
        stream.attached_pic.size > 0 &&
        holdsPicture(format_.codec, stream.codecpar->codec_id)) {
      picture_ = static_cast<int>(i);
      return;
    }
  }
}

std::string Transcoder::openDecoder(const AVCodec* decoder) {
  decoder_.reset(avcodec_alloc_context3(decoder));
  if (!decoder_) return failure("Can't decode", AVERROR(ENOMEM));
  int error = avcodec_parameters_to_context(decoder_.get(),
                                            input_->streams[audio_]->codecpar);
  if (error >= 0) error = avcodec_open2(decoder_.get(), decoder, nullptr);
  return error < 0 ? failure("Can't decode", error) : std::string();
}

std::string Transcoder::openOutput(const os::Descriptor& file) {
  AVFormatContext* context = nullptr;
  int error = avformat_alloc_output_context2(
      &context, nullptr, rowOf(format_.codec).muxer, nullptr);
  if (error < 0) return failure("Can't write the container", error);
  output_.reset(context);
  error = outIo_.open(file, true);
  if (error < 0) return failure("Can't write", error);
  context->pb = outIo_.context();
  // No version of the library in the file: the same song gives the same
  // bytes.
  context->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;
  DescriptorIo::allowReopen(context);
  std::string failed = openEncoder();
  if (failed.empty()) failed = addStreams();
  return failed.empty() ? writeHeader() : failed;
}

std::string Transcoder::openEncoder() {
  const AVCodec* codec =
      avcodec_find_encoder_by_name(rowOf(format_.codec).encoder);
  if (codec == nullptr) {
    return failure("Can't encode", AVERROR_ENCODER_NOT_FOUND);
  }
  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_) return failure("Can't encode", AVERROR(ENOMEM));
  AVCodecContext& context = *encoder_;
  configureEncoder(format_, *codec, *decoder_, context);
  if ((output_->oformat->flags & AVFMT_GLOBALHEADER) != 0)
    context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  if (format_.codec == ConvertCodec::Opus)
    av_dict_set(&options, "vbr", "constrained", 0);
  const int error = avcodec_open2(&context, codec, &options);
  av_dict_free(&options);
  if (error < 0) return failure("Can't encode", error);
  const bool variable =
      (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  frameSize_ =
      variable || context.frame_size <= 0 ? kFreeFrameSize : context.frame_size;
  padLast_ =
      !variable && (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) == 0;
  return {};
}

std::string Transcoder::addStreams() {
  AVStream* stream = avformat_new_stream(output_.get(), nullptr);
  if (stream == nullptr) return failure("Can't write", AVERROR(ENOMEM));
  const int error =
      avcodec_parameters_from_context(stream->codecpar, encoder_.get());
  if (error < 0) return failure("Can't write", error);
  stream->time_base = encoder_->time_base;
  carryTags(
      *input_, *input_->streams[audio_], format_.codec,
      tagsOnStream(format_.codec) ? &stream->metadata : &output_->metadata);
  if (picture_ < 0) return {};
  AVStream* cover = avformat_new_stream(output_.get(), nullptr);
  if (cover == nullptr) return failure("Can't write", AVERROR(ENOMEM));
  avcodec_parameters_copy(cover->codecpar, input_->streams[picture_]->codecpar);
  cover->codecpar->codec_tag = 0;
  cover->disposition = AV_DISPOSITION_ATTACHED_PIC;
  cover->time_base = AVRational{1, 90000};
  return {};
}

std::string Transcoder::writeHeader() {
  AVDictionary* options = nullptr;
  // Players reject an M4A file whose index comes after its data.
  if (format_.codec == ConvertCodec::Aac)
    av_dict_set(&options, "movflags", "+faststart", 0);
  // ID3v2.3: what small players read most widely.
  if (format_.codec == ConvertCodec::Mp3)
    av_dict_set(&options, "id3v2_version", "3", 0);
  int error = avformat_write_header(output_.get(), &options);
  av_dict_free(&options);
  if (error < 0) return failure("Can't write", error);
  if (picture_ < 0) return {};
  Packet cover(av_packet_clone(&input_->streams[picture_]->attached_pic));
  if (!cover) return failure("Can't write", AVERROR(ENOMEM));
  cover->stream_index = 1;
  cover->pts = cover->dts = 0;
  error = av_write_frame(output_.get(), cover.get());
  return error < 0 ? failure("Can't write the cover", error) : std::string();
}

}  // namespace convert_av
