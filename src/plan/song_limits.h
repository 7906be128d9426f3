#ifndef PLINKARD_PLAN_SONG_LIMITS_H_
#define PLINKARD_PLAN_SONG_LIMITS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/song_tags.h"

// The artist a song counts for under -e: its album artist tag, else its
// (first) artist tag, without the blanks around it and in lower case (ASCII
// letters; other bytes as they are); "" when it has neither.
std::string artistKey(const SongTags& tags);

// `ms` as hours, minutes and seconds, "H:MM:SS" (rounded down to seconds).
std::string playingTimeText(uint64_t ms);

// What -t and -e add to a walk of the planner: the chosen songs play at
// most a playing time together, and at most so many songs (or albums) are
// by one artist. A song of unknown playing time never fits a playing time;
// a song without an artist is not limited by -e.
class SongLimits {
 public:
  // Over `tags`, by position in the index; `fillMs` 0: no playing time,
  // `perArtist` 0: no limit per artist. With `albums` the limit per artist
  // counts albums, an album being by the artist of its first song that has
  // one.
  SongLimits(const std::vector<SongTags>& tags, uint64_t fillMs,
             uint32_t perArtist, bool albums);

  bool timed() const { return fillMs_ != 0; }
  uint64_t fillMs() const { return fillMs_; }
  // The songs of unknown playing time, which a timed walk never takes.
  size_t untimedSongs() const { return untimed_; }
  // Starts a new walk: nothing taken.
  void reset();
  // Whether the song or album of the songs at `first` up to `last` still
  // fits; then take() counts it.
  bool fits(const uint32_t* first, const uint32_t* last) const;
  void take(const uint32_t* first, const uint32_t* last);
  // The playing time taken by this walk, in milliseconds.
  uint64_t takenMs() const { return takenMs_; }

 private:
  static constexpr uint32_t kNoArtist = UINT32_MAX;
  uint32_t artistOf(const uint32_t* first, const uint32_t* last) const;
  uint64_t msOf(const uint32_t* first, const uint32_t* last) const;

  uint64_t fillMs_;
  uint32_t perArtist_;
  bool albums_;
  std::vector<int64_t> playingMs_;  // by position; -1 unknown
  std::vector<uint32_t> artists_;   // by position: the artist's number
  std::vector<uint32_t> counts_;    // by artist: taken in this walk
  size_t untimed_ = 0;
  uint64_t takenMs_ = 0;
};

#endif  // PLINKARD_PLAN_SONG_LIMITS_H_
