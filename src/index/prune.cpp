#include <algorithm>
#include <unordered_map>

#include "index/fat_names.h"
#include "job/fill_job.h"
#include "job/paths.h"
#include "os/files.h"
#include "os/signals.h"
#include "record/record.h"

namespace {

// What a file system that ignores case could take for `name`, as one text:
// ASCII letters in lower case and every other character as one mark. Two
// names it could take for each other have equal keys; names with equal keys
// may still differ, which costs only a lookup.
std::string caseKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t length = std::max<size_t>(utf8Length(name.substr(i)), 1);
    const char c = name[i];
    key += length > 1             ? '\x80'
           : c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20)
                                  : c;
    i += length;
  }
  return key;
}

bool hasNonAscii(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x80;
  });
}

// Looks targets up below the output folder, listing each folder that
// targets fall in once. A listing rules a name out when it holds nothing
// the file system could take for it, and rules it in only when it holds
// that very name, byte for byte, as a file or a folder: what a lookup would
// find as well. Where it holds a name the file system could take for the
// target's, where it cannot be read, and for names it cannot speak for, the
// target itself is looked up. The first target of every listed folder is
// looked up too, so that a folder that can be listed but not searched is
// noticed.
class TargetLookup {
 public:
  // With `listedEntries`, notes there the entries of every folder it
  // lists.
  TargetLookup(const os::HeldFolder& output, const TargetVolume& volume,
               std::unordered_map<std::string, FolderEntries>* listedEntries)
      : output_(output), volume_(volume), listedEntries_(listedEntries) {}

  std::error_code lookUp(const char* relative, bool& exists) {
    const std::string_view text(relative);
    const size_t slash = text.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? text : text.substr(slash + 1);
    Folder& folder = folderOf(slash == std::string_view::npos
                                  ? ""
                                  : std::string(text.substr(0, slash)));
    if (folder.state == State::Absent) {
      exists = false;
      return {};
    }
    if (folder.state == State::Listed && folder.trusted) {
      const Match match = folder.match(name);
      if (match == Match::Itself) {
        exists = true;
        return {};
      }
      if (match == Match::None && !mustLookUp(folder, name)) {
        exists = false;
        return {};
      }
    }
    const std::error_code error = output_.probe(relative, exists);
    if (folder.state == State::Listed && !folder.trusted) {
      folder.trusted = !error;
      if (error) folder.state = State::LookEach;
    }
    return error;
  }

 private:
  enum class State { Absent, Listed, LookEach };
  // What a listing holds for a name: nothing the file system could take
  // for it, such a name, or that very name as a file or a folder.
  enum class Match { None, Similar, Itself };
  struct Folder {
    State state = State::LookEach;
    bool ignoreCase = false;
    bool caseFolded = false;  // by a folder flag, with Unicode rules
    bool trusted = false;
    std::vector<std::string> names;  // as listed
    std::vector<bool> fileOrFolder;  // per name
    std::vector<std::string> caseKeys;
    // The listed names, or their case keys where the folder ignores case,
    // each to the first listed name that has it.
    std::unordered_map<std::string_view, size_t> keys;

    Match match(std::string_view name) const {
      const std::string folded = ignoreCase ? caseKey(name) : std::string();
      const std::string_view key = ignoreCase ? folded : name;
      const auto found = keys.find(key);
      if (found == keys.end()) return Match::None;
      const size_t i = found->second;
      return names[i] == name && fileOrFolder[i] ? Match::Itself
                                                 : Match::Similar;
    }
  };

  Folder& folderOf(const std::string& relative) {
    auto found = folders_.find(relative);
    if (found != folders_.end()) return found->second;
    Folder& folder = folders_[relative];
    if (volume_.listing == TargetVolume::Listing::None) return folder;
    os::FolderNames listed;
    const std::error_code error = output_.listNames(relative, listed);
    if (error == std::errc::no_such_file_or_directory ||
        error == std::errc::not_a_directory) {
      folder.state = State::Absent;
    } else if (!error) {
      folder.state = State::Listed;
      folder.caseFolded = listed.caseFolded;
      folder.ignoreCase = listed.caseFolded ||
                          volume_.listing == TargetVolume::Listing::IgnoreCase;
      folder.names = std::move(listed.names);
      folder.fileOrFolder = std::move(listed.fileOrFolder);
      keepKeys(folder);
      if (listedEntries_ != nullptr) {
        (*listedEntries_)[relative] = listedEntries(volume_, folder.names);
      }
    }
    return folder;
  }

  static void keepKeys(Folder& folder) {
    if (folder.ignoreCase) {
      folder.caseKeys.reserve(folder.names.size());
      for (const std::string& name : folder.names) {
        folder.caseKeys.push_back(caseKey(name));
      }
    }
    const std::vector<std::string>& keys =
        folder.ignoreCase ? folder.caseKeys : folder.names;
    for (size_t i = 0; i < keys.size(); ++i) folder.keys.emplace(keys[i], i);
  }

  // Names a listing cannot rule out: too long for the file system (its
  // lookup fails), a possible short alias of another file, or a name that a
  // folder with Unicode case rules may take for a listed one.
  bool mustLookUp(const Folder& folder, std::string_view name) const {
    return name.size() > 255 || name.size() > volume_.nameMax ||
           (volume_.shortNames && name.find('~') != std::string_view::npos) ||
           (folder.caseFolded && hasNonAscii(name));
  }

  const os::HeldFolder& output_;
  const TargetVolume& volume_;
  std::unordered_map<std::string, FolderEntries>* listedEntries_;
  std::unordered_map<std::string, Folder> folders_;
};

}  // namespace

bool FillJob::removeExistingTargets() {
  const std::string& outputText = outputDir.native();
  TargetLookup lookup(
      outputFolder, targetVolume,
      targetVolume.countsFolderEntries() ? &listedFolderEntries : nullptr);
  // remove_if keeps the order of the songs it keeps and decides the songs
  // one after another, so the messages come in index order.
  auto kept =
      std::remove_if(songs.begin(), songs.end(), [&](const SongEntry& song) {
        if (os::interruptSignal() != 0) return false;
        const std::string& path = song.targetPath.native();
        const size_t start = relativeStart(outputText, path);
        bool exists = false;
        const std::error_code error =
            outputFolder.held() && start != std::string::npos
                ? lookup.lookUp(path.c_str() + start, exists)
                : os::probePath(path, exists);
        if (error) {
          printLine("Can't check whether ", path, " exists: ", error.message());
        }
        // A dry run plans as if the songs of earlier fills were gone.
        if (exists && start != std::string::npos &&
            record.removedInDryRun(recordPath(path.substr(start)))) {
          return false;
        }
        if (exists || error) noteTakenOut(song);
        return exists || error;
      });
  songs.erase(kept, songs.end());
  return true;
}
