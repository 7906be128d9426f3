#ifndef PLINKARD_PLAN_ALBUMS_H_
#define PLINKARD_PLAN_ALBUMS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "plan/fill_plan.h"
#include "plan/target_space.h"

class SongLimits;

// The songs of an index grouped into albums: the songs of one folder.
struct Albums {
  // Positions in the index, album after album, each album in track order.
  std::vector<uint32_t> songs;
  // Album a is songs[starts[a]] up to songs[starts[a + 1]], not included;
  // one more entry than there are albums.
  std::vector<uint32_t> starts{0};

  size_t count() const { return starts.size() - 1; }
};

// Whether the file name `a` comes before `b` in track order: byte by byte,
// but each run of digits compared with the other name's as a number, so
// that "2 Song" comes before "10 Song". Names that are equal that way
// ("01 A", "1 A") are in byte order.
bool trackOrderLess(std::string_view a, std::string_view b);

// Groups the songs by the folder part of their paths (up to the last '/'),
// by position in `paths`; the albums come in the order of their first songs.
Albums groupAlbums(const std::vector<std::string_view>& paths);

// Random choices over whole albums: each walk takes every album, in the
// order it is given, whose songs still fit together into what is left of
// the budget, or none of its songs.
class AlbumWalk {
 public:
  // An album costs its songs' sizes (KiB) and fits when their sum is below
  // what is left.
  AlbumWalk(Albums albums, const std::vector<uint32_t>& sizes, uint64_t budget);
  // An album costs what its songs take together on the target, as `costs`
  // counts them (see SpaceCosts), which must outlive the walk.
  AlbumWalk(Albums albums, const SpaceCosts& costs, uint64_t budget);

  const Albums& albums() const { return albums_; }
  // The albums that do not fit even alone, in album order; no walk takes
  // them.
  const std::vector<uint32_t>& tooLarge() const { return tooLarge_; }
  // How many albums a walk goes over: an order holds 0 up to count() - 1.
  size_t count() const { return fitting_.size(); }
  uint64_t budget() const { return budget_; }
  // Holds each walk to `limits` too (-t, -e), which must outlive the walk;
  // a choice's share is then theirs.
  void setLimits(SongLimits* limits) { limits_ = limits; }
  uint64_t efficiency(uint64_t total) const {
    return shareOf(total, budget_, limits_);
  }

  // One first-fit walk over the albums in `order`: appends the songs of
  // every album it takes to `choice`, each album in track order, and
  // returns the total taken.
  uint64_t firstFit(const std::vector<uint32_t>& order,
                    std::vector<uint32_t>& choice) const;

 private:
  void append(uint32_t album, std::vector<uint32_t>& choice) const;

  Albums albums_;
  const SpaceCosts* costs_ = nullptr;  // by sizes when null
  SongLimits* limits_ = nullptr;
  uint64_t budget_;
  std::vector<uint32_t> fitting_;  // the albums a walk goes over
  std::vector<uint64_t> sizes_;    // by sizes: of each fitting album
  std::vector<uint32_t> tooLarge_;
};

#endif  // PLINKARD_PLAN_ALBUMS_H_
