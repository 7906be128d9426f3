#ifndef PLINKARD_INDEX_FAT_NAMES_H_
#define PLINKARD_INDEX_FAT_NAMES_H_

#include <string>
#include <string_view>

// Names that a FAT-family file system (vfat, exFAT, NTFS) accepts, made
// from any name: each of " * : < > ? \ | and each control character becomes
// '_', each byte of an invalid UTF-8 sequence becomes '_', trailing dots and
// blanks go, an empty name becomes "_", and a name longer than 255 UTF-16
// units is shortened keeping its extension. The same name always maps to
// the same result, so a later run finds what an earlier one created.
std::string fatName(std::string_view name);

// `path` with every element between its '/' mapped by fatName; the '/'
// themselves, doubled ones too, stay as they are.
std::string fatPath(std::string_view path);

// For file systems that take any bytes but a limited number of them in a
// name: a name longer than `maxBytes` is shortened as fatName shortens one
// (keeping its extension, cut at a UTF-8 character), by bytes; a shorter
// one stays as it is. The same name always gives the same result.
std::string fittedName(std::string_view name, size_t maxBytes);

// `path` with every element mapped by fittedName, as fatPath does.
std::string fittedPath(std::string_view path, size_t maxBytes);

// The length in UTF-8 bytes of the code point that starts `text`, or 0 when
// no valid one starts there.
size_t utf8Length(std::string_view text);

#endif  // PLINKARD_INDEX_FAT_NAMES_H_
