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

// How many folders may be open at once. The soft open-file limit is raised
// toward the hard one to match, since trees deeper than the system's path
// limit need about two thousand levels and the usual soft limit is 1024.
size_t levelBudget() {
  static const size_t budget = [] {
    const size_t limit = os::raiseOpenFileLimit(kMaxLevels + kOtherDescriptors);
    return std::min(kMaxLevels,
                    limit > kOtherDescriptors ? limit - kOtherDescriptors : 0);
  }();
  return budget;
}

// The extension of a file name: from its last '.' to the end, or empty.
std::string_view extensionOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool matchesFilter(const std::vector<std::string>& filters,
                   std::string_view name) {
  const std::string_view extension = extensionOf(name);
  return std::any_of(filters.begin(), filters.end(),
                     [&](const std::string& f) { return f == extension; });
}

bool meansMissing(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory ||
         error == std::errc::not_a_directory;
}

}  // namespace

FolderScan::FolderScan(FillJob& job) : job_(job) {
  haveOutput_ = job.outputFolder.held() && !job.outputFolder.identify(output_);
}

void FolderScan::scan(const std::string& folderText, std::string baseText) {
  if (baseText.empty()) {
    baseText = folderText;
  } else if (baseText.back() != '/') {
    baseText += '/';
  }
  const std::string folder = absoluteForm(folderText);
  firstBase_ = absoluteForm(baseText);
  deepBase_ = firstBase_.back() == '/' ? firstBase_ : firstBase_ + '/';
  enter(folder, nullptr, folder);
  while (!levels_.empty() && os::interruptSignal() == 0) step();
  levels_.clear();
}

void FolderScan::enter(const std::string& text, const os::FolderReader* parent,
                       const std::string& name) {
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
  Level level;
  level.text = text;
  if (!open(level, parent, name)) return;
  level.prefix = text.back() == '/' ? text : text + '/';
  levels_.push_back(std::move(level));
}

bool FolderScan::open(Level& level, const os::FolderReader* parent,
                      const std::string& name) {
  std::error_code error = parent != nullptr
                              ? level.reader.openEntry(*parent, name)
                              : level.reader.open(name);
  if (error == std::errc::no_such_file_or_directory) {
    job_.printLine("Not found: ", level.text);
    return false;
  }
  if (error == std::errc::not_a_directory) {
    job_.printLine("Not a directory: ", level.text);
    return false;
  }
  if (!error) {
    job_.scanProgress.start();
    error = level.reader.identify(level.id);
  }
  if (error) {
    reportUnreadable(level.text, error);
    return false;
  }
  if (onCurrentPath(level.id)) {
    job_.printLine("Skipping directory loop: ", level.text);
    return false;
  }
  return isNew(level);
}

bool FolderScan::isNew(const Level& level) {
  const char* skipped = nullptr;
  if (haveOutput_ && level.id == output_) {
    skipped = "Skipping the output directory: ";
  } else if (!folders_.insert(level.id).second) {
    skipped = "Skipping directory scanned already: ";
  }
  if (skipped != nullptr && job_.bVerbose) job_.printLine(skipped, level.text);
  return skipped == nullptr;
}

bool FolderScan::isNewFile(const os::EntryStatus& status, bool throughLink) {
  if (!trackingFiles_ && (throughLink || status.links > 1)) {
    trackingFiles_ = true;
    seenFiles_.insert(songIds_.begin(), songIds_.end());
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
  const char* name = nullptr;
  os::EntryKind kind = os::EntryKind::Other;
  std::error_code error;
  if (!top.reader.next(name, kind, error)) {
    if (error) reportUnreadable(top.text, error);
    levels_.pop_back();
    return;
  }
  entryText_.assign(top.prefix).append(name);
  if (job_.bVerbose) job_.printLine("Current item: ", entryText_);
  visit(depth, name, kind);
}

void FolderScan::visit(size_t depth, const char* name, os::EntryKind kind) {
  os::EntryStatus status;
  switch (kind) {
    case os::EntryKind::Directory:
      enter(entryText_, &levels_[depth].reader, name);
      return;
    case os::EntryKind::RegularFile:
      if (!matchesFilter(job_.filters, name)) return;
      if (levels_[depth].reader.statusOf(name, false, status)) {
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
      accept(status, depth, false);
      return;
    case os::EntryKind::Link:
    case os::EntryKind::Unknown:
      visitLinked(depth, name);
      return;
    default:
      job_.printLine("WTF is this? ", entryText_);
  }
}

// The listing does not tell where a link leads (or what an entry of
// unknown type is): follow it and look.
void FolderScan::visitLinked(size_t depth, const char* name) {
  os::EntryStatus status;
  const std::error_code error =
      levels_[depth].reader.statusOf(name, true, status);
  if (error) {
    if (meansMissing(error)) {
      job_.printLine("WTF is this? ", entryText_);
    } else {
      reportUnreadable(entryText_, error);
    }
  } else if (status.directory) {
    if (onCurrentPath(status.id)) {
      job_.printLine("Skipping directory loop: ", entryText_);
    } else {
      enter(entryText_, &levels_[depth].reader, name);
    }
  } else if (status.regularFile) {
    if (matchesFilter(job_.filters, name)) accept(status, depth, true);
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
  if (job_.scanProgress.due()) {
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
