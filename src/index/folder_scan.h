#ifndef PLINKARD_INDEX_FOLDER_SCAN_H_
#define PLINKARD_INDEX_FOLDER_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "index/id_table.h"
#include "index/read_ahead.h"
#include "os/file_id.h"
#include "os/files.h"

class FillJob;

// The walk of one input folder for FillJob::scanDir: depth first, in the
// order the listings give, the songs of a subfolder at the point where the
// subfolder is met. The folders being listed are held on a stack of their
// own rather than on the call stack, so the depth is bounded only by the
// open descriptors it allows and by the length of a path's text; a folder
// beyond either is reported and skipped.
//
// One FolderScan serves every input folder of a run, so that it can take
// each file and folder once: a folder it listed already, or the job's output
// folder, is not entered, and a file it indexed already (through a link or
// another hard link) is not indexed again.
//
// The folders' opens, listings and statuses come from a ReadAhead, which
// keeps up to `threads` of these requests in flight (0: one at a time, each
// when the walk gets to it); the walk itself, all it prints and the order of
// the index do not depend on that number.
class FolderScan {
 public:
  // Learns the id of the job's held output folder, if there is one.
  // `afterListing` goes to the ReadAhead.
  explicit FolderScan(
      FillJob& job, size_t threads = ReadAhead::kThreads,
      std::function<void(const std::string&)> afterListing = nullptr);

  // Scans `folderText` and every folder below it, appending the accepted
  // songs to the job's index. `baseText` decides how much of each path is
  // cut off to form its relative path: the folder itself when empty.
  void scan(const std::string& folderText, std::string baseText);

 private:
  using Folder = ReadAhead::Folder;

  // A folder being walked: the path that led to it and the folder whose
  // listing serves it (the same, or another path to the same folder).
  struct Level {
    std::shared_ptr<Folder> folder;
    std::shared_ptr<Folder> content;
    size_t next = 0;     // the entry to look at next
    std::string text;    // its absolute text
    std::string prefix;  // `text` with a trailing '/', ready for a name
    os::FileId id;
  };

  // Opens the folder `text` (entry `index` of the folder walked at
  // `depth`, or the input folder when there is none) and puts it on the
  // stack, or says why not.
  void enter(const std::string& text, const Level* parent, size_t index);
  bool open(const Folder& folder, const std::string& text);
  // Handles the next entry of the folder on top, or takes that folder off
  // the stack when its listing is done.
  void step();
  void visit(size_t depth, const ReadAhead::Entry& entry, size_t index);
  void visitLinked(size_t depth, const ReadAhead::Entry& entry, size_t index,
                   const char* name);
  void accept(const os::EntryStatus& status, size_t depth, bool throughLink);
  bool onCurrentPath(const os::FileId& id) const;
  bool isNew(const os::FileId& id, const std::string& text);
  bool isNewFile(const os::EntryStatus& status, bool throughLink);
  void reportUnreadable(const std::string& text,
                        const std::error_code& error) const;

  FillJob& job_;
  os::FileId output_;  // before haveOutput_, whose initializer sets it
  bool haveOutput_ = false;
  ReadAhead readAhead_;
  std::vector<Level> levels_;
  std::string firstBase_;  // cut off the paths of the top folder's entries
  std::string deepBase_;   // cut off every deeper path
  std::string entryText_;  // the absolute text of the entry at hand

  IdTable<bool> folders_;  // listed ones
  // The ids of the songs indexed so far. A file can come again only through
  // a link or as one of several hard links; until the first such file they
  // are only collected, then they go into a set that every later file is
  // looked up in.
  std::vector<os::FileId> songIds_;
  IdTable<bool> seenFiles_;
  bool trackingFiles_ = false;
};

#endif  // PLINKARD_INDEX_FOLDER_SCAN_H_
