#ifndef PLINKARD_JOB_PATHS_H_
#define PLINKARD_JOB_PATHS_H_

#include <string>
#include <string_view>

#include "os/files.h"

// Path text helpers shared by the setters, validation, the scan, target
// naming and the transfer. They work on plain text with '/' as the only
// separator and never follow links.

// Returns the absolute form of `text`: a relative text is put behind `cwd`,
// then runs of '/' become one, "." elements are dropped and ".." removes the
// element before it (at the root it stays at the root). A trailing '/' that
// `text` had stays. An empty text stays empty.
std::string absoluteForm(const std::string& text, const std::string& cwd);

// The same against the process's working folder, read once per process.
// Throws boost::filesystem::filesystem_error when the working folder cannot
// be read.
std::string absoluteForm(const std::string& text);

// What is at `path` (links followed): Missing when nothing is there, a
// non-folder is on the way, or the path is too long or loops. Any other
// failure throws boost::filesystem::filesystem_error, whose text reads
// "status: <description>: \"<path>\"".
os::PathKind queryPathKind(const std::string& path);

// Joins two path texts: the left part when the right part is empty; the two
// texts put together when the right part begins with '/'; otherwise with a
// '/' between them unless the left part is empty or ends in '/'. An absolute
// right part never replaces the left part.
std::string joinPath(std::string_view left, std::string_view right);

// Where the part of `path` below the folder `folder` starts (after the '/'
// between them, doubled ones too), or npos when `path` does not lie below
// that folder's text.
size_t relativeStart(const std::string& folder, const std::string& path);

// The text after the last '/' of `path` (all of it when there is none).
std::string_view fileNameOf(std::string_view path);

#endif  // PLINKARD_JOB_PATHS_H_
