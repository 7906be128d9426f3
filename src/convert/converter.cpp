#include "convert/converter.h"

#include "convert/song_tags.h"
#include "convert/transcoder.h"
#include "tags/song_tags.h"

const char kConvertTempTag[] = "plinkard-convert";

namespace {

ConvertResult failed(std::string error, const std::error_code& system = {},
                     bool targetSide = true) {
  ConvertResult result;
  result.error = std::move(error);
  result.systemError = system;
  result.targetSide = targetSide;
  return result;
}

// "<what>: <the system's description>".
ConvertResult systemFailure(const char* what, const std::error_code& error,
                            bool targetSide) {
  return failed(std::string(what) + ": " + error.message(), error, targetSide);
}

// FFmpeg's M4A writer leaves out ReplayGain: the tags unit adds what it
// left out.
std::string addDroppedTags(const convert_av::Transcoder& transcoder,
                           const os::PendingFile& pending) {
  const std::string error = addMissingMp4Tags(
      pending.descriptor(),
      convert_av::carriedProperties(transcoder.input(), transcoder.audio()));
  return error.empty() ? error : "Can't write the tags: " + error;
}

// Writes the song into `pending` and flushes it.
ConvertResult transcodeInto(convert_av::Transcoder& transcoder,
                            const ConvertFormat& format,
                            os::PendingFile& pending) {
  std::string error = transcoder.openOutput(pending.descriptor());
  if (error.empty()) error = transcoder.run();
  if (error.empty() && !transcoder.interrupted() &&
      format.codec == ConvertCodec::Aac) {
    error = addDroppedTags(transcoder, pending);
  }
  if (transcoder.interrupted()) {
    ConvertResult result;
    result.status = ConvertStatus::Interrupted;
    return result;
  }
  if (!error.empty()) {
    return failed(error, transcoder.systemError(), transcoder.targetSide());
  }
  ConvertResult result;
  if (const std::error_code size =
          os::sizeOf(pending.descriptor(), result.bytes)) {
    return systemFailure("Can't write", size, true);
  }
  if (const std::error_code flushed = pending.flush()) {
    return systemFailure("Can't write", flushed, true);
  }
  result.status = ConvertStatus::Converted;
  return result;
}

}  // namespace

ConvertResult convertToPending(const std::string& source,
                               const os::HeldFolder& below,
                               const std::string& target,
                               const ConvertFormat& format,
                               const std::function<bool()>& stop,
                               os::PendingFile& pending) {
  os::Descriptor in;
  if (const std::error_code error = os::openForReading(source, in)) {
    return systemFailure("Can't open", error, false);
  }
  ConvertResult result;
  {
    convert_av::Transcoder transcoder(format, stop);
    const std::string error = transcoder.openInput(in, source);
    if (!error.empty()) {
      return failed(error, transcoder.systemError(), false);
    }
    if (transcoder.inFormat()) {
      result.status = ConvertStatus::InFormat;
      result.sourceMs = transcoder.durationMs();
      return result;
    }
    if (const std::error_code created =
            pending.create(below, target, kConvertTempTag)) {
      return systemFailure("Can't create a file", created, true);
    }
    result = transcodeInto(transcoder, format, pending);
    result.sourceMs = transcoder.durationMs();
  }
  if (result.status != ConvertStatus::Converted) pending.discard();
  return result;
}

void placeConverted(os::PendingFile& pending, ConvertResult& result) {
  if (result.status != ConvertStatus::Converted) return;
  if (const std::error_code error = pending.place()) {
    pending.discard();
    const uint64_t sourceMs = result.sourceMs;
    result = systemFailure("Can't put it in place", error, true);
    result.sourceMs = sourceMs;
  }
}

ConvertResult convertSong(const std::string& source,
                          const os::HeldFolder& below,
                          const std::string& target,
                          const ConvertFormat& format,
                          const std::function<bool()>& stop) {
  os::PendingFile pending;
  ConvertResult result =
      convertToPending(source, below, target, format, stop, pending);
  placeConverted(pending, result);
  return result;
}

size_t removeConvertLeftovers(const os::HeldFolder& below,
                              const std::string& folder) {
  return os::removeLeftovers(below, folder, kConvertTempTag);
}
