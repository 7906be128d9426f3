#include <algorithm>

#include "convert/transcoder.h"

namespace convert_av {

std::string Transcoder::run() {
  int error = 0;
  while ((error = av_read_frame(input_.get(), packet_.get())) >= 0) {
    std::string failed;
    if (packet_->stream_index == audio_) failed = decode(packet_.get());
    av_packet_unref(packet_.get());
    if (!failed.empty()) return failed;
    if (stop_ && stop_()) {
      interrupted_ = true;
      return {};
    }
  }
  if (error != AVERROR_EOF) return failure("Can't read", error);
  return finish();
}

// Decodes `packet` (null: what the decoder still holds) and passes the
// frames on. A packet that does not decode is skipped, as players do; a
// song none of whose packets decode fails at the end.
std::string Transcoder::decode(const AVPacket* packet) {
  int error = avcodec_send_packet(decoder_.get(), packet);
  if (error == AVERROR_INVALIDDATA) {
    decodeError_ = error;
    return {};
  }
  if (error < 0) return failure("Can't decode", error);
  for (;;) {
    error = avcodec_receive_frame(decoder_.get(), decoded_.get());
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return {};
    if (error < 0) return failure("Can't decode", error);
    std::string failed = take(*decoded_);
    av_frame_unref(decoded_.get());
    if (!failed.empty()) return failed;
  }
}

std::string Transcoder::take(const AVFrame& frame) {
  if (!resampler_) {
    std::string failed = makeResampler(frame);
    if (!failed.empty()) return failed;
  }
  ++framesDecoded_;
  const std::string failed = resample(&frame);
  return failed.empty() ? pushSamples(false) : failed;
}

std::string Transcoder::makeResampler(const AVFrame& frame) {
  AVChannelLayout layout{};
  // A source that names no channels (WAV without a mask) gets the usual
  // layout for its count, so that the down-mix knows which is which.
  if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&layout, frame.ch_layout.nb_channels);
  } else {
    av_channel_layout_copy(&layout, &frame.ch_layout);
  }
  SwrContext* context = nullptr;
  int error = swr_alloc_set_opts2(
      &context, &encoder_->ch_layout, encoder_->sample_fmt,
      encoder_->sample_rate, &layout, static_cast<AVSampleFormat>(frame.format),
      frame.sample_rate, 0, nullptr);
  av_channel_layout_uninit(&layout);
  resampler_.reset(context);
  if (error >= 0) error = swr_init(context);
  if (error < 0) return failure("Can't resample", error);
  fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt,
                                  encoder_->ch_layout.nb_channels, frameSize_));
  return fifo_ ? std::string() : failure("Can't resample", AVERROR(ENOMEM));
}

// Resamples `frame` (null: what the resampler still holds) into the FIFO.
std::string Transcoder::resample(const AVFrame* frame) {
  const int in = frame != nullptr ? frame->nb_samples : 0;
  const int room = swr_get_out_samples(resampler_.get(), in);
  if (room <= 0) return {};
  if (room > convertedRoom_) {
    av_frame_unref(converted_.get());
    converted_->format = encoder_->sample_fmt;
    converted_->nb_samples = room;
    av_channel_layout_copy(&converted_->ch_layout, &encoder_->ch_layout);
    const int error = av_frame_get_buffer(converted_.get(), 0);
    if (error < 0) return failure("Can't resample", error);
    convertedRoom_ = room;
  }
  const int got = swr_convert(
      resampler_.get(), converted_->extended_data, room,
      frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data)
                       : nullptr,
      in);
  if (got < 0) return failure("Can't resample", got);
  const int written = av_audio_fifo_write(
      fifo_.get(), reinterpret_cast<void**>(converted_->extended_data), got);
  return written < got ? failure("Can't resample", AVERROR(ENOMEM))
                       : std::string();
}

// Encodes whole frames from the FIFO; with `last`, the rest too.
std::string Transcoder::pushSamples(bool last) {
  for (;;) {
    const int held = av_audio_fifo_size(fifo_.get());
    if (held == 0 || (held < frameSize_ && !last)) return {};
    const int samples = std::min(held, frameSize_);
    av_frame_unref(encoded_.get());
    encoded_->format = encoder_->sample_fmt;
    encoded_->sample_rate = encoder_->sample_rate;
    encoded_->nb_samples = padLast_ ? frameSize_ : samples;
    av_channel_layout_copy(&encoded_->ch_layout, &encoder_->ch_layout);
    int error = av_frame_get_buffer(encoded_.get(), 0);
    if (error < 0) return failure("Can't encode", error);
    av_samples_set_silence(encoded_->extended_data, 0, encoded_->nb_samples,
                           encoder_->ch_layout.nb_channels,
                           encoder_->sample_fmt);
    av_audio_fifo_read(fifo_.get(),
                       reinterpret_cast<void**>(encoded_->extended_data),
                       samples);
    encoded_->pts = nextPts_;
    nextPts_ += samples;
    std::string failed = encode(encoded_.get());
    if (!failed.empty()) return failed;
  }
}

// Encodes `frame` (null: what the encoder still holds) and writes the
// packets that come out.
std::string Transcoder::encode(const AVFrame* frame) {
  int error = avcodec_send_frame(encoder_.get(), frame);
  if (error < 0) return failure("Can't encode", error);
  AVStream& stream = *output_->streams[0];
  for (;;) {
    error = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return {};
    if (error < 0) return failure("Can't encode", error);
    av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream.time_base);
    packet_->stream_index = 0;
    error = av_write_frame(output_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (error < 0) return failure("Can't write", error);
  }
}

std::string Transcoder::finish() {
  std::string failed = decode(nullptr);
  if (!failed.empty()) return failed;
  if (framesDecoded_ == 0) {
    return failure("Can't decode",
                   decodeError_ != 0 ? decodeError_ : AVERROR_INVALIDDATA);
  }
  failed = resample(nullptr);
  if (failed.empty()) failed = pushSamples(true);
  if (failed.empty()) failed = encode(nullptr);
  if (!failed.empty()) return failed;
  const int error = av_write_trailer(output_.get());
  if (error < 0) return failure("Can't write", error);
  avio_flush(output_->pb);
  return output_->pb->error < 0 ? failure("Can't write", output_->pb->error)
                                : std::string();
}

}  // namespace convert_av
