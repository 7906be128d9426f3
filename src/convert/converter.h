#ifndef PLINKARD_CONVERT_CONVERTER_H_
#define PLINKARD_CONVERT_CONVERTER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

#include "convert/convert_format.h"
#include "os/held_folder.h"
#include "os/pending_file.h"

// Songs converted with FFmpeg's libraries, in this process: the one unit
// that includes them. Sources and targets are read and written through the
// platform layer's descriptors, so long paths and the held output folder
// work as they do for copies.

// How converting one song ended.
enum class ConvertStatus {
  Converted,    // the target is complete, at its name
  InFormat,     // the source's audio is in the format already: copy it
  Failed,       // see `error`; nothing of this call is left at the target
  Interrupted,  // `stop` said so; nothing is left at the target
  HeldBack,     // converted, but refused by the caller at its turn (see
                // ConvertQueue::next); nothing is left at the target
};

struct ConvertResult {
  ConvertStatus status = ConvertStatus::Failed;
  // Failed: what failed and why, in the library's or the system's words
  // ("Can't decode: Invalid data found when processing input").
  std::string error;
  // Failed by the system (reading the source, writing or placing the
  // target): its error, which may concern the whole volume.
  std::error_code systemError;
  bool targetSide = false;  // that failure was the target's
  uint64_t bytes = 0;       // Converted, HeldBack: the target's size
  uint64_t sourceMs = 0;    // the source's playing time, when known
};

// The prefix of the temporary files a conversion writes in the target's
// folder (".plinkard-convert.<process id>.<n>.tmp").
extern const char kConvertTempTag[];

// Converts the song at `source` into `format` at `target` (relative to
// `below` when it holds a folder; the target's folder must exist). The song
// is written under a temporary name in that folder, flushed to the device,
// and given the target's name, never over an existing file (EEXIST then).
// `stop` is asked after each packet of the source (often: within a
// millisecond or so); it must be safe to call from any thread.
ConvertResult convertSong(const std::string& source,
                          const os::HeldFolder& below,
                          const std::string& target,
                          const ConvertFormat& format,
                          const std::function<bool()>& stop);

// As convertSong, but the flushed song stays under its temporary name in
// `pending`, for the caller to place() when its turn comes.
ConvertResult convertToPending(const std::string& source,
                               const os::HeldFolder& below,
                               const std::string& target,
                               const ConvertFormat& format,
                               const std::function<bool()>& stop,
                               os::PendingFile& pending);

// Gives a song converted by convertToPending its target's name: `result`
// becomes Failed when that fails (EEXIST when a file is there).
void placeConverted(os::PendingFile& pending, ConvertResult& result);

// Removes the temporary files that a killed run left in `folder` (relative
// to `below` when it holds one); for each folder a run converts into,
// before it does. Returns how many went.
size_t removeConvertLeftovers(const os::HeldFolder& below,
                              const std::string& folder);

#endif  // PLINKARD_CONVERT_CONVERTER_H_
