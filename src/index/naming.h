#ifndef PLINKARD_INDEX_NAMING_H_
#define PLINKARD_INDEX_NAMING_H_

#include <string>
#include <string_view>

// Joins two path texts: the left part when the right part is empty; the two
// texts put together when the right part begins with '/'; otherwise with a
// '/' between them unless the left part is empty or ends in '/'. An absolute
// right part never replaces the left part.
std::string joinPath(std::string_view left, std::string_view right);

// `relative` with every '/' replaced by '-': "Rock/AC/song.mp3" gives
// "Rock-AC-song.mp3" and "/top.mp3" gives "-top.mp3".
std::string dashed(std::string_view relative);

// The text after the last '/' of `path` (all of it when there is none).
std::string_view fileNameOf(std::string_view path);

#endif  // PLINKARD_INDEX_NAMING_H_
