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

// The album of every song, numbered in the order of their first songs,
// the number of songs in each, and each song's file name. The songs of a
// folder mostly come together in the index, so a folder is looked up only
// where it changes.
std::vector<uint32_t> albumOfEach(const std::vector<std::string_view>& paths,
                                  std::vector<uint32_t>& counts,
                                  std::vector<std::string_view>& names) {
  std::vector<uint32_t> albumOf(paths.size());
  names.resize(paths.size());
  std::unordered_map<std::string_view, uint32_t> known;
  std::string_view previous;
  uint32_t album = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    const size_t slash = paths[i].rfind('/');
    const std::string_view folder = slash == std::string_view::npos
                                        ? std::string_view()
                                        : paths[i].substr(0, slash);
    names[i] = paths[i].substr(slash + 1);
    if (i == 0 || folder != previous) {
      const auto entry =
          known.emplace(folder, static_cast<uint32_t>(counts.size()));
      if (entry.second) counts.push_back(0);
      album = entry.first->second;
      previous = folder;
    }
    albumOf[i] = album;
    ++counts[album];
  }
  return albumOf;
}

}  // namespace

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

Albums groupAlbums(const std::vector<std::string_view>& paths) {
  std::vector<uint32_t> counts;
  std::vector<std::string_view> names;
  const std::vector<uint32_t> albumOf = albumOfEach(paths, counts, names);
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
    std::sort(albums.songs.begin() + albums.starts[a],
              albums.songs.begin() + albums.starts[a + 1],
              [&](uint32_t x, uint32_t y) {
                return trackOrderLess(names[x], names[y]);
              });
  }
  return albums;
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
