#include "convert/song_facts.h"

#include <cctype>

#include "convert/transcoder.h"
#include "os/pending_file.h"

namespace {

void addTags(const AVDictionary* tags, std::map<std::string, std::string>& to) {
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    std::string key = entry->key;
    for (char& c : key) c = static_cast<char>(std::tolower(c));
    to.emplace(key, entry->value);
  }
}

}  // namespace

std::string readSongFacts(const std::string& path, const ConvertFormat& format,
                          SongFacts& facts) {
  os::Descriptor in;
  if (const std::error_code error = os::openForReading(path, in)) {
    return "Can't open: " + error.message();
  }
  convert_av::Transcoder transcoder(format, nullptr);
  std::string error = transcoder.openInput(in, path);
  if (!error.empty()) return error;
  const AVFormatContext& input = transcoder.input();
  const AVStream& audio = transcoder.audio();
  facts.codec = avcodec_get_name(audio.codecpar->codec_id);
  facts.inFormat = transcoder.inFormat();
  facts.bitRate = audio.codecpar->bit_rate;
  facts.sampleRate = audio.codecpar->sample_rate;
  facts.channels = audio.codecpar->ch_layout.nb_channels;
  facts.durationMs = transcoder.durationMs();
  addTags(input.metadata, facts.tags);
  addTags(audio.metadata, facts.tags);
  if (const AVStream* cover = transcoder.picture()) {
    facts.coverBytes = static_cast<uint64_t>(cover->attached_pic.size);
  }
  return {};
}
