#ifndef PLINKARD_INDEX_FOLDER_SCAN_H_
#define PLINKARD_INDEX_FOLDER_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

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
class FolderScan {
 public:
  // Learns the id of the job's held output folder, if there is one.
  explicit FolderScan(FillJob& job);

  // Scans `folderText` and every folder below it, appending the accepted
  // songs to the job's index. `baseText` decides how much of each path is
  // cut off to form its relative path: the folder itself when empty.
  void scan(const std::string& folderText, std::string baseText);

 private:
  // A folder being listed.
  struct Level {
    os::FolderReader reader;
    std::string text;    // its absolute text
    std::string prefix;  // `text` with a trailing '/', ready for a name
    os::FileId id;
  };

  // Opens the folder `text` (the entry `name` of `parent`, or the whole
  // text at the top) and puts it on the stack, or says why not.
  void enter(const std::string& text, const os::FolderReader* parent,
             const std::string& name);
  bool open(Level& level, const os::FolderReader* parent,
            const std::string& name);
  // Handles the next entry of the folder on top, or takes that folder off
  // the stack when its listing is done.
  void step();
  void visit(size_t depth, const char* name, os::EntryKind kind);
  void visitLinked(size_t depth, const char* name);
  void accept(const os::EntryStatus& status, size_t depth, bool throughLink);
  bool onCurrentPath(const os::FileId& id) const;
  bool isNew(const Level& level);
  bool isNewFile(const os::EntryStatus& status, bool throughLink);
  void reportUnreadable(const std::string& text,
                        const std::error_code& error) const;

  FillJob& job_;
  std::vector<Level> levels_;
  std::string firstBase_;  // cut off the paths of the top folder's entries
  std::string deepBase_;   // cut off every deeper path
  std::string entryText_;  // the absolute text of the entry at hand

  bool haveOutput_ = false;
  os::FileId output_;
  std::unordered_set<os::FileId, os::FileIdHash> folders_;  // listed ones
  // The ids of the songs indexed so far. A file can come again only through
  // a link or as one of several hard links; until the first such file they
  // are only collected, then they go into a set that every later file is
  // looked up in.
  std::vector<os::FileId> songIds_;
  std::unordered_set<os::FileId, os::FileIdHash> seenFiles_;
  bool trackingFiles_ = false;
};

#endif  // PLINKARD_INDEX_FOLDER_SCAN_H_
