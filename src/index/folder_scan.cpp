#include "index/folder_scan.h"

#include <algorithm>

#include "job/fill_job.h"
#include "job/paths.h"
#include "os/signals.h"

namespace {

// Paths longer than this, or folders deeper than the descriptor budget, are
// reported and skipped, so that a hostile tree cannot take all memory or
// descriptors.
constexpr size_t kMaxPathText = 64 << 10;
constexpr size_t kMaxLevels = 4096;
constexpr size_t kOtherDescriptors = 16;  // streams, the copy, the list
// Folders the read-ahead may hold open beyond those on the walk's path.
constexpr size_t kMaxOpenAhead = 512;

// The open-file limit, raised toward what the walk and the read-ahead may
// hold at most (the usual soft limit is 1024; trees deeper than the
// system's path limit need about two thousand levels).
size_t openFileLimit() {
  static const size_t limit =
      os::raiseOpenFileLimit(kMaxLevels + kOtherDescriptors + kMaxOpenAhead);
  return limit > kOtherDescriptors ? limit - kOtherDescriptors : 0;
}

// How many folders the walk may have open at once.
size_t levelBudget() { return std::min(kMaxLevels, openFileLimit()); }

// How many the read-ahead may hold open besides: what the limit leaves.
size_t openAheadBudget() {
  return std::min(kMaxOpenAhead, openFileLimit() - levelBudget());
}

bool meansMissing(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory ||
         error == std::errc::not_a_directory;
}

ReadAhead::Settings readAheadSettings(
    const FillJob& job, size_t threads, bool haveOutput,
    const os::FileId& output,
    std::function<void(const std::string&)> afterListing) {
  ReadAhead::Settings settings;
  settings.threads = threads;
  settings.openAhead = openAheadBudget();
  settings.depthLimit = levelBudget();
  settings.textLimit = kMaxPathText;
  settings.filters = job.filters;
  settings.haveOutput = haveOutput;
  settings.output = output;
  settings.afterListing = std::move(afterListing);
  return settings;
}

bool heldOutput(const FillJob& job, os::FileId& id) {
  return job.outputFolder.held() && !job.outputFolder.identify(id);
}

}  // namespace

FolderScan::FolderScan(FillJob& job, size_t threads,
                       std::function<void(const std::string&)> afterListing)
    : job_(job),
      haveOutput_(heldOutput(job, output_)),
      readAhead_(readAheadSettings(job, threads, haveOutput_, output_,
                                   std::move(afterListing))) {}

void FolderScan::scan(const std::string& folderText, std::string baseText) {
  if (baseText.empty()) {
    baseText = folderText;
  } else if (baseText.back() != '/') {
    baseText += '/';
  }
  const std::string folder = absoluteForm(folderText);
  firstBase_ = absoluteForm(baseText);
  deepBase_ = firstBase_.back() == '/' ? firstBase_ : firstBase_ + '/';
  enter(folder, nullptr, 0);
  while (!levels_.empty() && os::interruptSignal() == 0) step();
  if (os::interruptSignal() != 0) readAhead_.stop();
  levels_.clear();
}

void FolderScan::enter(const std::string& text, const Level* parent,
                       size_t index) {
  if (job_.bVerbose) job_.printLine("Scanning dir: ", text);
  if (levels_.size() >= levelBudget()) {
    reportUnreadable(text,
                     std::make_error_code(std::errc::too_many_files_open));
    return;
  }
  if (text.size() > kMaxPathText) {
    reportUnreadable(text, std::make_error_code(std::errc::filename_too_long));
    return;
  }
  const std::shared_ptr<Folder> folder =
      parent != nullptr
          ? readAhead_.openChild(parent->folder, parent->content, index)
          : readAhead_.openInput(text);
  if (!open(*folder, text)) {
    readAhead_.release(*folder);
    return;
  }
  std::shared_ptr<Folder> content = readAhead_.listing(folder);
  if (!content) return;
  Level level;
  level.folder = folder;
  level.content = std::move(content);
  level.text = text;
  level.prefix = text.back() == '/' ? text : text + '/';
  level.id = folder->id;
  levels_.push_back(std::move(level));
}

bool FolderScan::open(const Folder& folder, const std::string& text) {
  std::error_code error = folder.openError;
  if (error == std::errc::no_such_file_or_directory) {
    job_.printLine("Not found: ", text);
    return false;
  }
  if (error == std::errc::not_a_directory) {
    job_.printLine("Not a directory: ", text);
    return false;
  }
  if (!error) {
    job_.scanProgress.start();
    error = folder.identifyError;
  }
  if (error) {
    reportUnreadable(text, error);
    return false;
  }
  if (onCurrentPath(folder.id)) {
    job_.printLine("Skipping directory loop: ", text);
    return false;
  }
  return isNew(folder.id, text);
}

bool FolderScan::isNew(const os::FileId& id, const std::string& text) {
  const char* skipped = nullptr;
  if (haveOutput_ && id == output_) {
    skipped = "Skipping the output directory: ";
  } else if (!folders_.insert(id).second) {
    skipped = "Skipping directory scanned already: ";
  }
  if (skipped != nullptr && job_.bVerbose) job_.printLine(skipped, text);
  return skipped == nullptr;
}

bool FolderScan::isNewFile(const os::EntryStatus& status, bool throughLink) {
  if (!trackingFiles_ && (throughLink || status.links > 1)) {
    trackingFiles_ = true;
    for (const os::FileId& id : songIds_) seenFiles_.insert(id);
    songIds_ = {};
  }
  if (!trackingFiles_) {
    songIds_.push_back(status.id);
    return true;
  }
  if (seenFiles_.insert(status.id).second) return true;
  if (job_.bVerbose)
    job_.printLine("Skipping file indexed already: ", entryText_);
  return false;
}

void FolderScan::step() {
  const size_t depth = levels_.size() - 1;
  Level& top = levels_.back();
  if (top.next == top.content->entries.size()) {
    if (top.content->listError) {
      reportUnreadable(top.text, top.content->listError);
    }
    readAhead_.release(*top.folder);
    levels_.pop_back();
    return;
  }
  const size_t index = top.next++;
  const std::shared_ptr<Folder> content = top.content;
  ReadAhead::Entry& entry = content->entries[index];
  entryText_.assign(top.prefix).append(content->nameOf(entry));
  if (job_.bVerbose) job_.printLine("Current item: ", entryText_);
  visit(depth, entry, index);
  entry.child.reset();
}

void FolderScan::visit(size_t depth, const ReadAhead::Entry& entry,
                       size_t index) {
  switch (entry.kind) {
    case os::EntryKind::Directory:
      enter(entryText_, &levels_[depth], index);
      return;
    case os::EntryKind::RegularFile:
      if (!entry.wanted) return;
      if (entry.error) {
        job_.printLine();
        job_.printLine();
        job_.printLine("**********");
        job_.printLine(
            "EXCEPTION: File exists but cannot be accessed!! (Probably some "
            "weird special chars in name)");
        job_.printLine("-> at file: ", entryText_);
        job_.printLine("**********");
        return;
      }
      accept(entry.status, depth, false);
      return;
    case os::EntryKind::Link:
    case os::EntryKind::Unknown:
      visitLinked(depth, entry, index, levels_[depth].content->nameOf(entry));
      return;
    default:
      job_.printLine("WTF is this? ", entryText_);
  }
}

// The listing does not tell where a link leads (or what an entry of
// unknown type is): its status, read through the link, does.
void FolderScan::visitLinked(size_t depth, const ReadAhead::Entry& entry,
                             size_t index, const char* name) {
  const os::EntryStatus& status = entry.status;
  if (entry.error) {
    if (meansMissing(entry.error)) {
      job_.printLine("WTF is this? ", entryText_);
    } else {
      reportUnreadable(entryText_, entry.error);
    }
  } else if (status.directory) {
    if (onCurrentPath(status.id)) {
      job_.printLine("Skipping directory loop: ", entryText_);
    } else {
      enter(entryText_, &levels_[depth], index);
    }
  } else if (status.regularFile) {
    if (hasExtension(job_.filters, name)) accept(status, depth, true);
  } else {
    job_.printLine("WTF is this? ", entryText_);
  }
}

void FolderScan::accept(const os::EntryStatus& status, size_t depth,
                        bool throughLink) {
  if (!isNewFile(status, throughLink)) return;
  const uint64_t sizeBytes = status.size;
  const size_t baseLength = depth == 0 ? firstBase_.size() : deepBase_.size();
  SongIndex& songs = job_.songs;
  songs.emplace_back();
  SongEntry& song = songs.back();
  song.sourcePath += entryText_;
  song.relativeStart =
      static_cast<uint32_t>(std::min(baseLength, entryText_.size()));
  // A file of 4 TiB or more gets the largest size rather than a wrapped one.
  song.sizeKiB =
      static_cast<uint32_t>(std::min<uint64_t>(sizeBytes >> 10, UINT32_MAX));
  song.sizeBytes = sizeBytes;
  song.modifiedNs = status.modified.seconds * 1000000000 +
                    static_cast<int64_t>(status.modified.nanoseconds);
  // The clock is asked every 64 songs, not for each: the line is due only
  // every half second.
  if (songs.size() % 64 == 0 && job_.scanProgress.due()) {
    job_.output() << "\r Scanning... " << songs.size() << " Songs found so far."
                  << std::flush;
  }
}

bool FolderScan::onCurrentPath(const os::FileId& id) const {
  return std::any_of(levels_.begin(), levels_.end(),
                     [&](const Level& level) { return level.id == id; });
}

void FolderScan::reportUnreadable(const std::string& text,
                                  const std::error_code& error) const {
  job_.printLine("Can't read directory ", text, ": ", error.message());
}
