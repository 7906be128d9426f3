#ifndef PLINKARD_JOB_FILL_JOB_H_
#define PLINKARD_JOB_FILL_JOB_H_

#include <boost/filesystem/path.hpp>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cache/song_cache.h"
#include "convert/convert_format.h"
#include "index/progress.h"
#include "index/song_entry.h"
#include "job/target_volume.h"
#include "os/copy.h"
#include "os/held_folder.h"
#include "plan/fill_plan.h"
#include "record/target_record.h"
#include "tags/song_tags.h"

class ConvertQueue;
struct ConvertResult;
struct RegexTest;
struct RegexTests;

// The one object of a run: the settings read from the command line, the song
// index, the plan, and every stage as one of its operations. Setters and
// stages print their own messages to the job's output stream, each line
// ended with a flushing line end (printLine). Stages look at
// os::interruptSignal() and stop early when a signal arrived; the front end
// then ends the run.
class FillJob {
 public:
  // Every field takes its default; seeds rand() with the current time.
  // Messages go to standard output, or to `output`.
  FillJob();
  explicit FillJob(std::ostream& output);
  FillJob(const FillJob&) = delete;
  FillJob& operator=(const FillJob&) = delete;

  // Writes `parts` one after another, then a line end, and flushes: the one
  // way the program prints a line.
  template <typename... Parts>
  void printLine(const Parts&... parts) const {
    (output_ << ... << parts) << std::endl;
  }
  // The stream printLine writes to, for text that is not a whole line.
  std::ostream& output() const { return output_; }

  // --- Setters (job/fill_job.cpp). Each prints its own message and leaves
  // the field unchanged when it refuses. A file-system error other than a
  // missing or malformed path escapes as boost::filesystem::filesystem_error.

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
  // A dry run plans as usual, then only says what it would transfer.
  void setDryRun(bool dryRun);
  // -r: the songs of earlier fills go before this one fills.
  void setReplace(bool replace);
  // -p: the playlist to write into the output folder.
  void setPlaylist(const std::string& name);
  // Plans whole albums, each in track order, instead of single songs.
  void setAlbums(bool albums);
  // -t: fills at most `minutes` of playing time, rounded to milliseconds,
  // and prints it; refuses a time not above 0 or beyond 64 bits of them.
  bool setFillTime(double minutes);
  // -e: at most `count` songs (with -a: albums) by one artist; refuses 0.
  bool setArtistLimit(uint32_t count);
  // -c: converts the songs not in the format `text` names ("mp3:128");
  // validation reads and checks it.
  void setConvert(const std::string& text);

  // --- Validation (job/validate.cpp). Prints the first missing setting and
  // returns false, or adds the default ".mp3" filter, holds the output
  // folder in outputFolder, learns its file system in `targetVolume` and
  // returns true when the output folder exists and the -in and -ex
  // expressions compile (kept in regexTests); an expression that does not
  // is named with the library's description. With -c, reads the format
  // into convertFormat and prints it, refusing (one line) a format or
  // bitrate it does not know, and -m.
  bool validate();

  // --- Scan (index/scan.cpp, index/folder_scan.cpp).
  // Appends to `songs` every regular file below the input folders whose
  // extension is in `filters`, in listing order, depth first; then prints an
  // empty line and "<count> files found!" (not after an interrupt). Missing
  // folders, unreadable folders and entries, link loops and files whose size
  // cannot be read are reported and skipped; nothing fails the scan. Each
  // file and folder is taken once, by its first path in the order of the
  // input folders, and the output folder is never entered (verbose runs say
  // what they skipped).
  void scanInputDirs();
  // Scans one folder and what is below it; `baseText` decides how much of
  // each path is cut off to form the relative path (empty: the folder).
  void scanDir(const std::string& folderText, std::string baseText);

  // --- Index processing (app/process_index.cpp): the used-songs list, the
  // songs the target cannot hold, the target names, pruning and the path
  // filters, in that order. True.
  bool processIndex();

  // On a target that holds no file of 4 GiB or more, drops every such song
  // with a line naming it (index/naming.cpp).
  void removeSongsTooLargeForTarget();

  // Sets entry.targetPath from outputDir and namingMode (index/naming.cpp);
  // on a FAT-family target every element below outputDir is mapped to a
  // name it accepts, elsewhere one over the volume's name limit in bytes is
  // shortened keeping its extension. Touches nothing else, on disk or in
  // the job.
  void makeTargetPath(SongEntry& entry) const;
  // Drops every song whose target exists, keeping the order of the others
  // (index/prune.cpp). A target that cannot be looked up is reported ("Can't
  // check whether <target> exists: <description>") and its song dropped
  // too. Where the planner counts the entries of existing folders, keeps
  // the entries of each folder it listed in listedFolderEntries. Returns
  // true.
  bool removeExistingTargets();
  // Drops songs failing the include or exclude expression and prints
  // "Filtering done, <n> songs didn't pass."; the survivors end up in
  // reverse order (index/path_filters.cpp). Without expressions it does and
  // prints nothing. Returns true.
  bool applyRegexFilters();
  // Whether `test`'s expression finds a match in `text`. Prints a message
  // and returns false when the expression did not compile or the match
  // failed.
  bool matchesRegex(std::string_view text, const RegexTest& test) const;

  // --- Songs' tags (tags/tag_stage.cpp).
  // Whether the plan needs the tags of every song: -t, -e (and -c), and -p
  // with -s all, whose plan counts the playlist's lines.
  bool needsEveryTag() const;
  // When the plan needs them, the tags of every song in the index, read
  // after the index processing; drops the cache's entries of songs gone.
  void readEveryTag();
  // With -a or -p, when not read already: the tags of the planned songs,
  // for the playlist's titles and the order of each album.
  void readPlannedTags();
  // Reads the tags of the songs at `positions` into songTags (sized to the
  // index; the other songs' stay as they were): from the song cache where
  // it has an entry of the song's size and modification time, otherwise
  // from the file, many at once. New tags go into the cache; with
  // `pruneCache` so does the removal of the entries of songs below the
  // input folders that are certainly gone. Without PLINKARD_NO_CACHE=1
  // the cache is opened, created when missing; any trouble with it is one
  // line and the tags are read from the files. Verbose runs name each song
  // whose tags could not be read. Opens no song file beyond these.
  void readSongTags(const std::vector<uint32_t>& positions, bool pruneCache);
  // Called by the index processing for each song it takes out: when every
  // tag is to be read, notes that the scan found the song, so that its
  // entry in the song cache is kept without a look at its file.
  void noteTakenOut(const SongEntry& song);

  // --- Used-songs list (usedlist/used_list_file.cpp).
  // Part of validation: whether the list can be read (when it is to be read)
  // and appended to or created (when it is to be written), without changing
  // anything. Prints "Can't read the used-list <path>: <description>" or the
  // same with "write" and returns false when not.
  bool checkUsedList();
  // Without bReadUsedList: false, nothing printed. Otherwise reads the list
  // at usedListPath, drops every song that a line names (by its size in KiB
  // and file name; a line without a name, by size alone), prints the count
  // of lines read and of songs dropped, and returns true; a list that cannot
  // be opened prints "The UsedList-File can't be read!", leaves the index
  // alone and returns false.
  bool readUsedList();
  // Without bWriteUsedList: false, nothing printed. Otherwise appends one
  // line per transferred song, in plan order, creating the file when
  // needed, and returns true. A list below the output folder is written
  // below the held folder, and not at all once the output folder is gone.
  // A list that cannot be opened prints "The UsedList-File can't be
  // written!" and returns false. A write that fails part-way cuts the file
  // back to its last whole line, names the song whose line did not make it
  // ("Can't write <source> to used-list: <description>") and returns false;
  // the lines before it stay. A transferred song left out of the list sets
  // bUsedListFailed.
  bool writeUsedList();

  // --- The record of what the runs put into the output folder, and the
  // playlist (record/keep_record.cpp, record/finish_record.cpp).
  // Before the scan. With -r or -p: locks the output folder and reads its
  // record, telling each line it cannot use; with -r removes the songs it
  // names that were copied and are unchanged (size, time and checksum),
  // each looked at and removed as one file, and the folders it names that
  // are then empty, with a line per song and a count (a dry run only says
  // what it would remove); writes the record anew; with -s all reads the
  // free space again. Never removes the used-songs list, the record, the
  // playlist or a file of the program's own. Returns the status to end the
  // run with: 1 when the playlist's name is none, the folder cannot be
  // locked or the record cannot be read or written, 2 when the output
  // folder went away; otherwise 0. Without -r and -p: a record that the
  // output folder holds is locked, read and written anew, so that this
  // run's songs are added to it; one it cannot lock or read is left alone
  // with a line saying so; 0.
  int keepRecord();
  // After the transfer, when a record is kept: writes the playlist (-p) of
  // the recorded songs that are there, unless a file Plinkard did not
  // write has its name, and puts the record on the device.
  void finishRecord();
  // Whether the run keeps the output folder's record: with -r or -p, or
  // when it adds to the record that is there.
  bool keepsRecord() const {
    return bReplace || !playlistName.empty() || record.isOpen();
  }
  // The song at `position` as the record and the playlist name it: its
  // playing time, artist and title, when its tags were read.
  RecordedSong recordedTags(uint32_t position) const;
  // With -c, after the tags of every song are read: the size each song to
  // convert is planned with, estimated from its playing time and tags with
  // a margin for the estimate's error (convertedBytes); songs whose codec,
  // as the tags unit found it, is the format's already, or whose playing
  // time is not known, are planned with their own size. With -c every
  // size is planned in whole KiB up, so the plan holds the real bytes.
  void estimateConvertedSizes();
  // What the song at `position` is planned to take: its estimated size
  // once converted, else its size; in bytes and in whole KiB.
  uint64_t targetBytes(uint32_t position) const;
  uint32_t targetKiB(uint32_t position) const;
  // Whether the output folder's path no longer leads to the folder held
  // since validation (unmounted, replaced); false while none is held.
  bool outputGone() const;

  // --- Planner (plan/planner.cpp).
  // Draws `choiceCount` random first-fit choices over `songs` and makes the
  // one that fills fillSize best (by per mille; the earliest of equals) the
  // plan, with its total in KiB as planSize, and prints "Most efficient
  // combination: <fraction>". When the fill size is the free space
  // (bFillAll), a song counts as the space it takes on the target: its size
  // in allocation units, its directory entries, the folders it needs and its
  // line in a used-songs list on the same volume; that total is kept in
  // planTargetBytes. On a target whose folders hold a limited number of
  // entries, no folder is planned beyond it. With bAlbums the choices take
  // whole albums (plan/albums.h); verbose runs name each album too large to
  // fit. With 0 choices it prints "We must generate at least 1 choice!",
  // changes nothing and returns false. An interrupt returns false with the
  // plan unchanged; otherwise true, also for an empty plan.
  bool createPlan(uint8_t choiceCount);

  // --- Transfer (transfer/copy.cpp, transfer/summary.cpp).
  enum class CopyOutcome {
    Failed,                 // nothing new at the target
    Transferred,            // copied (and, with bMove, source removed)
    TransferredSourceKept,  // copied, but the source could not be removed
    Unflushed,              // bMove: copied, its flush and removal to come
    HeldBack,               // -c: not written, as it would break the fill size
  };
  // Copies (bMove: moves) every planned song in plan order, printing the
  // bMove line and a progress line per song, and a "could not be copied!"
  // line after each one that was not transferred; records the transferred
  // ones in `transferred`. A move flushes its songs in batches and removes
  // their sources after each flush, so a song's failed flush or removal is
  // told after the progress lines of later songs of its batch. An empty
  // plan prints its notice and returns false; an interrupt stops before the
  // next song. Otherwise true, also when songs failed.
  bool copyFiles();
  // With -c, copyFiles' stand-in (transfer/convert.cpp): every planned
  // song in plan order, as many converted at once ahead of it as there are
  // processors, each landing with its progress line ("Converting file
  // i / n: name"; a song in the format already is copied as usual) or a
  // line naming the library's reason it could not be converted. Converted
  // songs are written under temporary names and put in place whole; the
  // temporary files an ended run left in a target folder go first. A song
  // that comes out larger than the room left (-s N: the fill size less the
  // bytes landed so far; -s all: the volume's free space) is not written,
  // with a line ("File '<source>' not written: ..."), is counted in
  // heldBack and is no failure; the following songs are still tried.
  bool convertFiles();
  // Copies the song at `position` without overwriting, creating its
  // target's missing folders; prints why it did not (the folder, an
  // existing target, a failed copy or removal). A partial target is
  // removed.
  CopyOutcome copySong(uint32_t position);
  // The dry run's stand-in for copyFiles: a line per planned song saying
  // what would be done ("Would copy <source> to <target>", or move), or the
  // empty plan's notice. Changes nothing on disk.
  void describePlan() const;
  // Prints the two closing lines: the plan's share of the fill size (with
  // bFillAll, what it takes on the target as the planner counted it), and
  // the counts of candidates and of transferred songs.
  void printSummary() const;
  // The exit status of a run that ended normally: 2 when a planned song was
  // not transferred or a transferred one could not be listed, a recorded
  // song not removed or the playlist not written, else 0 (a dry run
  // transfers nothing and is 0).
  int runStatus() const;
  // Prints "Interrupted!" the first time it is called.
  void reportInterrupt();

  // --- The settings and the state of the run.
  SongIndex songs;
  FillPlan plan;
  std::vector<boost::filesystem::path> inputDirs;  // as typed
  std::vector<std::string> filters;   // extensions, each with its dot
  boost::filesystem::path outputDir;  // as typed
  uint64_t fillSize = 0;              // KiB
  bool bFillAll = false;  // fillSize is the free space of the target
  uint64_t planSize = 0;  // KiB
  uint64_t planMs = 0;    // with -t: the plan's playing time
  // -t: the playing time to fill, in milliseconds; 0 without.
  uint64_t fillMs = 0;
  // With bFillAll: what the plan takes on the target as the planner counted
  // it, in bytes (0 for an empty plan).
  uint64_t planTargetBytes = 0;
  int32_t namingMode = Flat;
  // -e: at most this many songs (with -a: albums) by one artist; 0 without.
  uint32_t artistLimit = 0;
  std::string includeRegex;
  std::string excludeRegex;
  // The two expressions as compiled once for the run, by validate or else
  // by the path filters.
  std::shared_ptr<const RegexTests> regexTests;
  bool bReadUsedList = false;
  bool bWriteUsedList = false;
  bool bUsedListFailed = false;  // a transferred song is not in the list
  bool bMove = false;
  // -c: converting plans by playing time, so it reads every song's tags.
  bool bConvert = false;
  std::string usedListPath;
  std::string playlistName;  // as typed
  // Where the planner counts the entries of existing folders: the entries
  // of each folder that pruning listed, by its path below the output folder
  // ("" for the output folder itself).
  std::unordered_map<std::string, FolderEntries> listedFolderEntries;
  // -c: what was typed, and the format validation read from it.
  std::string convertText;
  ConvertFormat convertFormat;
  // By position: the estimated size once converted, 0 for a song planned
  // with its own size; empty without -c.
  std::vector<uint64_t> convertedBytes;
  std::fstream usedListStream;  // the reader's
  bool bVerbose = false;
  bool bDryRun = false;
  bool bReplace = false;
  bool bAlbums = false;
  // The songs' tags by position in `songs`, once read; empty before, and
  // only the read ones filled.
  std::vector<SongTags> songTags;
  // Hashes of the paths of the songs noteTakenOut was told of, until every
  // tag is read.
  std::vector<size_t> takenOutPaths;

  // The output folder, held from validation on, and its file system.
  os::HeldFolder outputFolder;
  TargetVolume targetVolume;
  // What the output folder holds of earlier runs, with -r or -p.
  TargetRecord record;

  // Positions in `songs` of the planned songs whose copy is complete, in
  // plan order. Only these count as transferred.
  std::vector<uint32_t> transferred;
  // -c: planned songs not written because they came out larger than the
  // room left (see convertFiles); they are no failure.
  size_t heldBack = 0;
  // Set once "Interrupted!" has been printed.
  bool interruptReported = false;
  // Set when an error that concerns the whole target volume stopped the
  // transfer, with that error.
  bool targetLost = false;
  std::error_code targetLostBy;

 private:
  // Opens the song cache and puts the tags of its entries where `tagsFor`
  // says; false, with its line printed, when it is off or can't be used
  // (then what it put in place does not count).
  bool openSongCache(SongCache& cache, const SongCache::TagsFor& tagsFor) const;
  // Those of the cache entries `candidates` whose song is certainly gone
  // (moved out of `candidates`).
  std::vector<std::string> goneFromCache(
      std::vector<std::string>& candidates) const;
  // The list's path below the held output folder, or "" when it does not
  // lie below it.
  std::string usedListBelowOutput() const;
  // The two ways of keepRecord: with -r or -p, and without.
  int keepOwnRecord();
  void addToRecordThere();
  // Whether -l names a file of the program's own in the output folder.
  bool usedListIsOwnFile() const;
  // Holds in `folder` the folder of the target (`relative` below the output
  // folder), creating what is missing and recording what it made, without
  // following a link; prints why not and returns false.
  bool enterTargetFolder(const std::string& target, const std::string& relative,
                         os::HeldFolder& folder);
  // Adds a song that landed to the record, when one is kept, with the
  // checksum of its ends.
  // Adds the song at `position` that landed to the record, when one is
  // kept, with the checksum of its ends, and its playing time, artist and
  // title when its tags were read.
  std::error_code recordSong(uint32_t position, const std::string& relative,
                             const os::FileStatus& landed,
                             const os::FileEnds& ends);
  CopyOutcome transferSong(uint32_t position, const os::HeldFolder& folder,
                           const std::string& relative);
  void reportTargetError(const std::string& target,
                         const std::error_code& error) const;
  // Stops the transfer after the song at hand when `error` concerns the
  // whole target volume.
  void noteTargetError(const std::error_code& error);
  void flushTarget() const;
  // Whether the transfer stops before the next song: a signal arrived
  // ("Interrupted!") or the output folder is gone (a line says so).
  bool transferStopped();
  // Records a song's outcome, printing its "could not be copied!" line.
  void noteOutcome(uint32_t position, CopyOutcome outcome);
  // Flushes the moved songs that wait for it and removes their sources.
  void completeMoves();
  CopyOutcome completeMove(const SongEntry& entry, os::UnflushedCopy& copy);
  // The target of `entry` below the held output folder (its whole path
  // while none is held).
  std::string relativeTarget(const SongEntry& entry) const;
  // Converting: the folder of the song at plan index `index` made and
  // cleared of leftovers, the song handed to `queue`; its turn tells how
  // it went.
  struct FolderTrouble {
    std::error_code error;
    std::string blocked;
  };
  FolderTrouble queueConversion(ConvertQueue& queue, uint32_t position);
  CopyOutcome takeConversion(ConvertQueue& queue, size_t index,
                             const FolderTrouble& folder);
  CopyOutcome recordConverted(uint32_t position, const std::string& relative);
  // Copies a song found in the format already, unless it no longer fits.
  CopyOutcome copyInFormat(uint32_t position);
  // -s N: the bytes the songs of this run may still take (the fill size
  // less what landed so far).
  uint64_t roomLeft() const;
  // Whether a song of `bytes` not yet on the target still fits: under -s N
  // the room left, under -s all the volume's free space now.
  bool songFits(uint64_t bytes) const;
  // -s all: whether a conversion failed for want of space on the target.
  bool outOfSpace(const ConvertResult& result) const;
  // The line of a song held back, of `bytes` (converted or not).
  void reportHeldBack(const std::string& source, uint64_t bytes,
                      bool converted) const;
  // Holds in `folder` the folder of `relative` below the output folder as
  // enterTargetFolder does, recording what it made; a link on the way is
  // ELOOP with `blocked` the path up to it.
  std::error_code makeFolderOf(const std::string& relative,
                               os::HeldFolder& folder, std::string& blocked);
  // Tells why the folder of `target` could not be had (see makeFolderOf).
  void reportFolderError(const std::string& target,
                         const std::error_code& error,
                         const std::string& blocked);
  // Prints, once, that the target volume can't be written any more.
  void reportTargetLost();

  friend class FolderScan;

  // A moved song whose copy is complete; its source goes after its flush.
  struct UnflushedMove {
    uint32_t position;
    os::UnflushedCopy copy;
  };
  std::vector<UnflushedMove> unflushedMoves_;
  uint64_t unflushedBytes_ = 0;
  bool targetLostReported_ = false;
  // Converting: the bytes of the songs landed so far.
  uint64_t landedBytes_ = 0;
  // Converting: the target folders cleared of leftovers so far.
  std::set<std::string> convertFoldersCleared_;

  std::ostream& output_;
  // Throttles the scan's progress line; started at the first folder listed
  // and shared by every folder of the run.
  ProgressThrottle scanProgress;
};

#endif  // PLINKARD_JOB_FILL_JOB_H_
