#ifndef PLINKARD_PLAN_ALBUMS_H_
#define PLINKARD_PLAN_ALBUMS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "plan/fill_plan.h"
#include "plan/target_space.h"
#include "tags/song_tags.h"

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

// The number of a disc folder's name: one that starts with "cd", "disc" or
// "disk" (any letter case), then blanks, '.', '_' or '-', then a number
// ("CD1", "Disc 02", "disk3 - Live"); 0 for any other name.
uint32_t discFolderNumber(std::string_view name);

// The folder of the album that the song at `path` belongs to: the folder
// part of its path (up to the last '/'), or that folder's parent when it is
// a disc folder, whose number goes to `disc` (0 otherwise).
std::string_view albumFolderOf(std::string_view path, uint32_t& disc);

// Groups the songs by their album folders, by position in `paths`; the
// albums come in the order of their first songs. Each album is in disc
// order (the disc folders' numbers), then in track order of the file
// names. With `tags` (by position, every song's), sibling folders whose
// songs all have one album tag and one artist (album artist, else artist)
// join into one album too, and the songs go in the order of their tags'
// disc (else the folder's) and track numbers first.
Albums groupAlbums(const std::vector<std::string_view>& paths,
                   const std::vector<SongTags>* tags = nullptr);

// Puts each run of songs of one album folder in `plan` in the order of
// their tags' disc (else the folder's) and track numbers, keeping the order
// of songs equal in both. `paths` and `tags` by position in the index.
void orderByDiscAndTrack(std::vector<uint32_t>& plan,
                         const std::vector<std::string_view>& paths,
                         const std::vector<SongTags>& tags);

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
