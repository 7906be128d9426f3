#ifndef PLINKARD_JOB_FILL_JOB_H_
#define PLINKARD_JOB_FILL_JOB_H_

#include <dirent.h>
#include <sys/types.h>

#include <boost/filesystem/path.hpp>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "index/progress.h"
#include "index/song_entry.h"
#include "plan/fill_plan.h"

struct RegexTest;

// The one object of a run: the settings read from the command line, the song
// index, the plan, and every stage as one of its operations. Setters and
// stages print their own messages to standard output, each line ended with a
// flushing line end. Stages look at interruptSignal() and stop early when a
// signal arrived; the front end then ends the run.
class FillJob {
 public:
  // Every field takes its default; seeds rand() with the current time.
  FillJob();
  FillJob(const FillJob&) = delete;
  FillJob& operator=(const FillJob&) = delete;

  // --- Setters (defined in job/fill_job.cpp). Each prints its own message
  // and leaves the field unchanged when it refuses. File-system errors other
  // than a missing or malformed path escape as
  // boost::filesystem::filesystem_error.

  // Appends `text` to inputDirs when its absolute form is an existing folder;
  // otherwise prints "Input path <text> is not a valid Directory!".
  bool setInputDir(const std::string& text);
  // Replaces outputDir under the same check ("Output path ...").
  bool setOutputDir(const std::string& text);
  // With `all`: the space available to the user on outputDir's volume (it
  // prints that in MB and a notice) and refuses when no outputDir is set yet.
  // Otherwise `megabytes` * 1024 KiB, refusing 0 and counts that overflow.
  bool setFillSize(uint64_t megabytes, bool all);
  // Appends `extension` (dot included) unless an equal one is there.
  bool addFilter(const std::string& extension);
  // Stores the include (`include` true) or exclude expression text.
  bool setRegex(bool include, const std::string& expression);
  // Stores both flags and the path; clears bReadUsedList, with a message,
  // when the path is not an existing regular file.
  bool setUsedList(bool read, bool write, const std::string& path);
  // Accepts 0, 1 or 2 and prints the naming it chose.
  bool setNamingMode(int32_t mode);
  void setVerbose(bool verbose);
  // Prints "bMove ist true" or "bMove ist false".
  bool setMove(bool move);

  // --- Validation (job/validate.cpp). Prints the first missing setting and
  // returns false, or adds the default ".mp3" filter and returns true when
  // the output folder exists.
  bool validate();

  // --- Scan (index/scan.cpp). Appends to `songs` every regular file below
  // the input folders whose extension is in `filters`, then prints the
  // total. Unreadable folders and link loops are reported and skipped.
  void scanInputDirs();
  // Scans one folder; `baseText` decides how much of each path is cut off to
  // form the relative path (empty: the folder itself).
  void scanDir(const std::string& folderText, std::string baseText);

  // --- Index processing (app/process_index.cpp): the used-songs list, the
  // target names, pruning and the path filters, in that order.
  bool processIndex();

  // Sets entry.targetPath from outputDir and namingMode (index/naming.cpp).
  void makeTargetPath(SongEntry& entry) const;
  // Drops every song whose target exists, in one pass (index/prune.cpp).
  bool removeExistingTargets();
  // Drops songs failing the include or exclude expression; the survivors end
  // up in reverse order (index/filters.cpp).
  bool applyRegexFilters();
  // Whether `test`'s expression finds a match in `text`. Prints a message
  // and returns false when the expression did not compile or the match
  // failed.
  bool matchesRegex(std::string_view text, const RegexTest& test);

  // --- Used-songs list (usedlist/used_list_file.cpp).
  // Drops every song whose size in KiB a list entry names.
  bool readUsedList();
  // Appends one line for every transferred song.
  bool writeUsedList();

  // --- Planner (plan/planner.cpp). Draws `choiceCount` random first-fit
  // choices and keeps the one that fills fillSize best in `plan`.
  bool createPlan(uint8_t choiceCount);

  // --- Transfer (transfer/copy.cpp, transfer/summary.cpp).
  enum class CopyOutcome {
    Failed,                 // nothing new at the target
    Transferred,            // copied (and, with bMove, source removed)
    TransferredSourceKept,  // copied, but the source could not be removed
  };
  // Copies or moves every planned song; records the transferred ones.
  bool copyFiles();
  // Copies one song without overwriting; removes a partial target.
  CopyOutcome copySong(const SongEntry& entry);
  // Prints the two closing lines.
  void printSummary() const;
  // Prints "Interrupted!" the first time it is called.
  void reportInterrupt();

  // --- Fields, in the order the rest of the program relies on.
  SongIndex songs;
  FillPlan plan;
  std::vector<boost::filesystem::path> inputDirs;
  std::vector<std::string> filters;
  boost::filesystem::path outputDir;
  uint64_t fillSize = 0;  // KiB
  uint64_t planSize = 0;  // KiB
  int32_t namingMode = Flat;
  std::string includeRegex;
  std::string excludeRegex;
  bool bReadUsedList = false;
  bool bWriteUsedList = false;
  bool bMove = false;
  std::string usedListPath;
  std::fstream usedListStream;
  bool bVerbose = false;

  // Positions in `songs` of the planned songs whose copy is complete, in
  // plan order. Only these count as transferred.
  std::vector<uint32_t> transferred;
  // Set once "Interrupted!" has been printed.
  bool interruptReported = false;

 private:
  struct OpenFolder;
  void scanFolder(int parentFd, const std::string& folderText,
                  std::string baseText);
  void scanEntries(OpenFolder& folder, const std::string& baseText);
  void scanEntry(int fd, const struct dirent& entry,
                 const std::string& entryText, const std::string& baseText);
  void scanLinkedEntry(int fd, const char* name, const std::string& entryText,
                       const std::string& baseText);
  void acceptFile(const std::string& entryText, uint64_t sizeBytes,
                  size_t baseLength);
  bool onCurrentPath(dev_t device, ino_t inode) const;

  // Throttles the scan's progress line; started at the first folder listed.
  ProgressThrottle scanProgress;
  // Device and inode of every folder from the input folder down to the one
  // being listed, to notice a link that leads back up.
  std::vector<std::pair<dev_t, ino_t>> folderPath;
};

#endif  // PLINKARD_JOB_FILL_JOB_H_
