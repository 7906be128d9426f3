#ifndef PLINKARD_CONVERT_SONG_TAGS_H_
#define PLINKARD_CONVERT_SONG_TAGS_H_

#include <string>
#include <utility>
#include <vector>

#include "convert/av_util.h"
#include "convert/convert_format.h"

namespace convert_av {

// The tags a converted song keeps, read from the source's container and its
// audio stream: title, artist, album artist, album, track, disc, date,
// genre and ReplayGain, the last as R128 gains for Opus. Added to `tags`
// under the names the muxer of `codec` writes.
void carryTags(const AVFormatContext& input, const AVStream& audio,
               ConvertCodec codec, AVDictionary** tags);

// The tags carryTags keeps for a format that holds ReplayGain as it is, by
// TagLib's property names ("TITLE", "ALBUMARTIST", "REPLAYGAIN_TRACK_GAIN"),
// for the tags unit to add where the muxer leaves them out.
std::vector<std::pair<std::string, std::string>> carriedProperties(
    const AVFormatContext& input, const AVStream& audio);

// The R128 gain (1/256 dB, relative to -23 LUFS) for a ReplayGain text
// ("-6.54 dB", relative to -18 LUFS); false when the text holds no number.
bool r128FromReplayGain(const char* text, int& gain);

}  // namespace convert_av

#endif  // PLINKARD_CONVERT_SONG_TAGS_H_
