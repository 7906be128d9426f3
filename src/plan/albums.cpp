#include "plan/albums.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "plan/song_limits.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Where the run of digits that starts at `from` ends.
size_t digitsEnd(std::string_view text, size_t from) {
  while (from < text.size() && isDigit(text[from])) ++from;
  return from;
}

// Two runs of digits compared as numbers: <0, 0 or >0.
int compareNumbers(std::string_view a, std::string_view b) {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

// The album of every song, by album folder, numbered in the order of their
// first songs, the number of songs in each, each song's file name and the
// number of its disc folder. The songs of a folder mostly come together in
// the index, so a folder is looked up only where it changes.
std::vector<uint32_t> albumOfEach(const std::vector<std::string_view>& paths,
                                  std::vector<std::string_view>& folders,
                                  std::vector<std::string_view>& names,
                                  std::vector<uint32_t>& discs) {
  std::vector<uint32_t> albumOf(paths.size());
  names.resize(paths.size());
  discs.resize(paths.size());
  std::unordered_map<std::string_view, uint32_t> known;
  std::string_view previous;
  uint32_t album = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    const size_t slash = paths[i].rfind('/');
    const std::string_view folder = albumFolderOf(paths[i], discs[i]);
    names[i] = paths[i].substr(slash + 1);
    if (i == 0 || folder != previous) {
      const auto entry =
          known.emplace(folder, static_cast<uint32_t>(folders.size()));
      if (entry.second) folders.push_back(folder);
      album = entry.first->second;
      previous = folder;
    }
    albumOf[i] = album;
  }
  return albumOf;
}

// What joins sibling album folders: their parent, album tag and artist, or
// "" for a folder whose songs do not all share one album tag and artist.
std::string joinKey(std::string_view folder, const SongTags& first,
                    bool shared) {
  if (!shared || first.album.empty()) return "";
  const size_t slash = folder.rfind('/');
  const std::string_view parent = slash == std::string_view::npos
                                      ? std::string_view()
                                      : folder.substr(0, slash);
  return std::string(parent) + '\0' + first.album + '\0' + artistKey(first);
}

// Renumbers the albums of `albumOf` so that sibling folders of one album by
// the tags are one album, numbered in the order of their first songs.
void joinByTags(std::vector<uint32_t>& albumOf,
                const std::vector<std::string_view>& folders,
                const std::vector<SongTags>& tags) {
  std::vector<int64_t> first(folders.size(), -1);
  std::vector<bool> shared(folders.size(), true);
  for (size_t i = 0; i < albumOf.size(); ++i) {
    const uint32_t a = albumOf[i];
    if (first[a] < 0) {
      first[a] = static_cast<int64_t>(i);
      continue;
    }
    const SongTags& one = tags[static_cast<size_t>(first[a])];
    shared[a] = shared[a] && tags[i].album == one.album &&
                artistKey(tags[i]) == artistKey(one);
  }
  std::unordered_map<std::string, uint32_t> joined;
  std::vector<uint32_t> number(folders.size());
  uint32_t next = 0;
  for (uint32_t a = 0; a < folders.size(); ++a) {
    const std::string key =
        first[a] < 0 ? ""
                     : joinKey(folders[a], tags[static_cast<size_t>(first[a])],
                               shared[a]);
    if (key.empty()) {
      number[a] = next++;
      continue;
    }
    const auto entry = joined.emplace(key, next);
    if (entry.second) ++next;
    number[a] = entry.first->second;
  }
  for (uint32_t& album : albumOf) album = number[album];
}

// The disc a song is on: its tag's, else its folder's.
uint32_t discOf(uint32_t song, const std::vector<uint32_t>& discs,
                const std::vector<SongTags>* tags) {
  return tags != nullptr && (*tags)[song].disc != 0 ? (*tags)[song].disc
                                                    : discs[song];
}

}  // namespace

uint32_t discFolderNumber(std::string_view name) {
  std::string head(name.substr(0, 4));
  for (char& c : head) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  size_t i = 0;
  if (head == "disc" || head == "disk") {
    i = 4;
  } else if (head.rfind("cd", 0) == 0) {
    i = 2;
  } else {
    return 0;
  }
  while (i < name.size() &&
         std::string_view(" ._-").find(name[i]) != std::string_view::npos) {
    ++i;
  }
  const size_t end = digitsEnd(name, i);
  if (end == i) return 0;
  uint64_t number = 0;
  for (; i < end && number <= UINT32_MAX; ++i) {
    number = number * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  return number > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(number);
}

std::string_view albumFolderOf(std::string_view path, uint32_t& disc) {
  disc = 0;
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  const std::string_view folder = path.substr(0, slash);
  const size_t up = folder.rfind('/');
  if (up == std::string_view::npos) return folder;
  disc = discFolderNumber(folder.substr(up + 1));
  return disc != 0 ? folder.substr(0, up) : folder;
}

bool trackOrderLess(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      const size_t endA = digitsEnd(a, i);
      const size_t endB = digitsEnd(b, j);
      const int order =
          compareNumbers(a.substr(i, endA - i), b.substr(j, endB - j));
      if (order != 0) return order < 0;
      i = endA;
      j = endB;
    } else if (a[i] != b[j]) {
      return static_cast<unsigned char>(a[i]) <
             static_cast<unsigned char>(b[j]);
    } else {
      ++i;
      ++j;
    }
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;
}

Albums groupAlbums(const std::vector<std::string_view>& paths,
                   const std::vector<SongTags>* tags) {
  std::vector<std::string_view> folders;
  std::vector<std::string_view> names;
  std::vector<uint32_t> discs;
  std::vector<uint32_t> albumOf = albumOfEach(paths, folders, names, discs);
  if (tags != nullptr) joinByTags(albumOf, folders, *tags);
  std::vector<uint32_t> counts;
  for (uint32_t album : albumOf) {
    if (album >= counts.size()) counts.resize(album + 1, 0);
    ++counts[album];
  }
  Albums albums;
  for (uint32_t count : counts) {
    albums.starts.push_back(albums.starts.back() + count);
  }
  std::vector<uint32_t> next(albums.starts.begin(), albums.starts.end() - 1);
  albums.songs.resize(paths.size());
  for (uint32_t i = 0; i < paths.size(); ++i) {
    albums.songs[next[albumOf[i]]++] = i;
  }
  for (size_t a = 0; a < albums.count(); ++a) {
    std::stable_sort(albums.songs.begin() + albums.starts[a],
                     albums.songs.begin() + albums.starts[a + 1],
                     [&](uint32_t x, uint32_t y) {
                       const uint32_t discX = discOf(x, discs, tags);
                       const uint32_t discY = discOf(y, discs, tags);
                       if (discX != discY) return discX < discY;
                       const uint32_t trackX = tags ? (*tags)[x].track : 0;
                       const uint32_t trackY = tags ? (*tags)[y].track : 0;
                       if (trackX != trackY) return trackX < trackY;
                       return trackOrderLess(names[x], names[y]);
                     });
  }
  return albums;
}

void orderByDiscAndTrack(std::vector<uint32_t>& plan,
                         const std::vector<std::string_view>& paths,
                         const std::vector<SongTags>& tags) {
  std::vector<uint32_t> discs(paths.size());
  for (size_t start = 0; start < plan.size();) {
    uint32_t disc = 0;
    const std::string_view folder = albumFolderOf(paths[plan[start]], disc);
    discs[plan[start]] = disc;
    size_t end = start + 1;
    while (end < plan.size() &&
           albumFolderOf(paths[plan[end]], disc) == folder) {
      discs[plan[end++]] = disc;
    }
    std::stable_sort(plan.begin() + static_cast<std::ptrdiff_t>(start),
                     plan.begin() + static_cast<std::ptrdiff_t>(end),
                     [&](uint32_t x, uint32_t y) {
                       const uint32_t discX = discOf(x, discs, &tags);
                       const uint32_t discY = discOf(y, discs, &tags);
                       if (discX != discY) return discX < discY;
                       return tags[x].track < tags[y].track;
                     });
    start = end;
  }
}

AlbumWalk::AlbumWalk(Albums albums, const std::vector<uint32_t>& sizes,
                     uint64_t budget)
    : albums_(std::move(albums)), budget_(budget) {
  for (uint32_t a = 0; a < albums_.count(); ++a) {
    uint64_t size = 0;
    for (uint32_t i = albums_.starts[a]; i < albums_.starts[a + 1]; ++i) {
      size += sizes[albums_.songs[i]];
    }
    if (size < budget_) {
      fitting_.push_back(a);
      sizes_.push_back(size);
    } else {
      tooLarge_.push_back(a);
    }
  }
}

AlbumWalk::AlbumWalk(Albums albums, const SpaceCosts& costs, uint64_t budget)
    : albums_(std::move(albums)), costs_(&costs), budget_(budget) {
  TargetFill alone(costs);
  const uint64_t room = budget > costs.reserved ? budget - costs.reserved : 0;
  const uint32_t* songs = albums_.songs.data();
  for (uint32_t a = 0; a < albums_.count(); ++a) {
    const uint64_t cost = alone.costOf(songs + albums_.starts[a],
                                       songs + albums_.starts[a + 1], room);
    (cost == TargetFill::kNoRoom ? tooLarge_ : fitting_).push_back(a);
  }
}

uint64_t AlbumWalk::firstFit(const std::vector<uint32_t>& order,
                             std::vector<uint32_t>& choice) const {
  if (limits_ != nullptr) limits_->reset();
  const uint32_t* songs = albums_.songs.data();
  // Whether album `a` stays within the limits, taking it there when it does.
  auto limited = [&](uint32_t a) {
    if (limits_ == nullptr) return false;
    const uint32_t* first = songs + albums_.starts[a];
    const uint32_t* last = songs + albums_.starts[a + 1];
    return !limits_->fits(first, last);
  };
  auto taken = [&](uint32_t a) {
    if (limits_ == nullptr) return;
    limits_->take(songs + albums_.starts[a], songs + albums_.starts[a + 1]);
  };
  if (costs_ == nullptr) {
    uint64_t total = 0;
    for (uint32_t k : order) {
      if (sizes_[k] < budget_ - total && !limited(fitting_[k])) {
        total += sizes_[k];
        taken(fitting_[k]);
        append(fitting_[k], choice);
      }
    }
    return total;
  }
  TargetFill fill(*costs_);
  uint64_t total = costs_->reserved;
  for (uint32_t k : order) {
    if (total >= budget_) break;
    const uint32_t a = fitting_[k];
    if (limited(a)) continue;
    const uint64_t cost =
        fill.take(songs + albums_.starts[a], songs + albums_.starts[a + 1],
                  budget_ - total);
    if (cost == TargetFill::kNoRoom) continue;
    total += cost;
    taken(a);
    append(a, choice);
  }
  return total;
}

void AlbumWalk::append(uint32_t album, std::vector<uint32_t>& choice) const {
  choice.insert(choice.end(), albums_.songs.begin() + albums_.starts[album],
                albums_.songs.begin() + albums_.starts[album + 1]);
}
