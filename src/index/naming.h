#ifndef PLINKARD_INDEX_NAMING_H_
#define PLINKARD_INDEX_NAMING_H_

#include <string>
#include <string_view>

// `relative` with every '/' replaced by '-': "Rock/AC/song.mp3" gives
// "Rock-AC-song.mp3" and "/top.mp3" gives "-top.mp3".
std::string dashed(std::string_view relative);

#endif  // PLINKARD_INDEX_NAMING_H_
