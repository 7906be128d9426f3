#ifndef PLINKARD_OS_FILES_H_
#define PLINKARD_OS_FILES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "os/descriptor.h"
#include "os/file_id.h"
#include "os/file_status.h"

// The file system as the stages see it: statuses, folder listings, a folder
// held open, folder creation and the space left. Every failure comes back as
// a std::error_code of the generic category, whose message() is the system's
// description ("Permission denied").
namespace os {

// What a status query found at a path, links followed.
enum class PathKind { Missing, Directory, RegularFile, Other };

// Queries `path`. A path that does not exist, runs through a non-folder, is
// too long or loops through links is Missing; any other failure is returned.
std::error_code queryPathKind(const std::string& path, PathKind& kind);

// Whether something exists at `path` (links followed). Nothing there, or a
// non-folder on the way, is `exists` false and no error.
std::error_code probePath(const std::string& path, bool& exists);

// The id of what is at `path` (links followed).
std::error_code identifyPath(const std::string& path, FileId& id);

// The process's working folder.
std::error_code currentFolder(std::string& text);

// The bytes available to the calling user on the volume that holds `path`.
std::error_code availableBytes(const std::string& path, uint64_t& bytes);

// Raises the soft limit of open descriptors toward `wanted` as far as the
// hard limit allows; returns the soft limit now in force.
size_t raiseOpenFileLimit(size_t wanted);

// How many processors the calling thread may run on (at least 1).
size_t usableProcessors();

// How often the calling thread has waited so far (for a disk, the network,
// a lock), as opposed to being made to give way to another.
uint64_t threadWaits();

// The type of an entry as a folder listing reports it.
enum class EntryKind { Directory, RegularFile, Link, Unknown, Other };

// The status of an entry, looked up by name in its folder.
struct EntryStatus {
  bool directory = false;
  bool regularFile = false;
  uint64_t size = 0;   // bytes
  uint64_t links = 1;  // hard links to it
  FileId id;
  FileTime modified;
};

// A folder open for listing, closed when the object goes.
class FolderReader {
 public:
  FolderReader();
  ~FolderReader();
  FolderReader(FolderReader&& other) noexcept;
  FolderReader& operator=(FolderReader&& other) noexcept;

  // Opens the folder at `path`, or the entry `name` of the open folder
  // `parent` when that is given (links followed). ENOENT when nothing is
  // there, ENOTDIR when it is not a folder.
  std::error_code open(const std::string& path);
  std::error_code openEntry(const FolderReader& parent, const char* name);

  // The id of the open folder.
  std::error_code identify(FileId& id) const;

  // Whether the open folder lies on a file system whose answers come over
  // a network or from a program (NFS, SMB, FUSE and their kin) rather than
  // from a local disk or memory. False when that cannot be told.
  bool remote() const;

  // The next entry other than "." and "..": its name, valid until the next
  // call, and its type. False at the end of the listing, with `error` set
  // when reading failed.
  bool next(const char*& name, EntryKind& kind, std::error_code& error);

  // The status of the entry `name`, following a link when `follow`.
  std::error_code statusOf(const char* name, bool follow,
                           EntryStatus& status) const;

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

}  // namespace os

#endif  // PLINKARD_OS_FILES_H_
