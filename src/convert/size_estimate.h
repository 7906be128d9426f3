#ifndef PLINKARD_CONVERT_SIZE_ESTIMATE_H_
#define PLINKARD_CONVERT_SIZE_ESTIMATE_H_

#include <cstdint>

#include "convert/convert_format.h"

// What the size of a converted song depends on, as read from its source.
struct SongShape {
  uint64_t durationMs = 0;
  unsigned sampleRate = 44100;  // the source's; 0: unknown
  unsigned channels = 2;        // the source's; 0: unknown
  unsigned tagCount = 0;        // tags carried over
  uint64_t tagBytes = 0;        // their names and values together
  uint64_t pictureBytes = 0;    // the cover's; left out where none is kept
};

// The bytes a song of `shape` takes once converted into `format`: the audio
// at the format's bitrate for the playing time, plus its container's
// headers, index and framing, the tags and the cover. An estimate: see the
// measured error where it is used.
uint64_t estimateConvertedBytes(const ConvertFormat& format,
                                const SongShape& shape);

// What a song to convert is planned with: its estimate and a margin for
// the estimate's error measured on a varied set of songs (see
// plinkard_convert_measure). A song that comes out larger all the same is
// held back at its turn, so the margin only keeps that rare.
uint64_t plannedConvertedBytes(const ConvertFormat& format,
                               const SongShape& shape);

#endif  // PLINKARD_CONVERT_SIZE_ESTIMATE_H_
