#ifndef PLINKARD_JOB_PATHS_H_
#define PLINKARD_JOB_PATHS_H_

#include <string>

// Path text helpers shared by the setters, validation and the scan. They
// work on plain text with '/' as the only separator and never follow links.

// Returns the absolute form of `text`: a relative text is put behind `cwd`,
// then runs of '/' become one, "." elements are dropped and ".." removes the
// element before it (at the root it stays at the root). A trailing '/' that
// `text` had stays. An empty text stays empty.
std::string absoluteForm(const std::string& text, const std::string& cwd);

// The same against the process's working folder, read once per process.
// Throws boost::filesystem::filesystem_error when the working folder cannot
// be read.
std::string absoluteForm(const std::string& text);

// What a status query found at a path (links followed).
enum class PathKind { Missing, Directory, RegularFile, Other };

// Queries `path`. A path that does not exist, runs through a non-folder, is
// too long or loops through links is Missing. Any other failure throws
// boost::filesystem::filesystem_error naming `operation` and the path.
PathKind queryPathKind(const std::string& path, const char* operation);

// The system's description of an errno value, e.g. "Permission denied".
std::string errorText(int error);

#endif  // PLINKARD_JOB_PATHS_H_
