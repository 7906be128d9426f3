#ifndef PLINKARD_CACHE_TAG_BLOB_H_
#define PLINKARD_CACHE_TAG_BLOB_H_

#include <string>
#include <string_view>

#include "tags/song_tags.h"

// A song's tags as the song cache keeps them: one blob, its numbers and
// the lengths of its texts as variable-length integers, so that reading a
// million entries decodes one column of each instead of twelve.
std::string packTags(const SongTags& tags);
// Decodes what packTags made into `tags`; false when `blob` is not such a
// blob (cut short, or with bytes left over), and `tags` is then unspecified.
bool unpackTags(std::string_view blob, SongTags& tags);

#endif  // PLINKARD_CACHE_TAG_BLOB_H_
