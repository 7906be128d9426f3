#ifndef PLINKARD_TESTS_JOB_TEST_HELPERS_H_
#define PLINKARD_TESTS_JOB_TEST_HELPERS_H_

#include <sstream>
#include <string>

#include "job/fill_job.h"

// A job whose messages go to a string.
struct TestJob {
  std::ostringstream out;
  FillJob job{out};
  std::string text() const { return out.str(); }
};

// A hand-made song: its source, where its path below the scan base starts
// in the source's text, its size and its target.
inline SongEntry songEntry(const std::string& source, uint32_t sizeKiB = 0,
                           const std::string& target = "",
                           uint32_t relativeStart = 0) {
  return SongEntry{source, relativeStart, sizeKiB, target};
}

// Appends a hand-made song to job.songs.
inline void addSong(FillJob& job, uint32_t sizeKiB,
                    const std::string& source = "",
                    const std::string& target = "") {
  job.songs.push_back(songEntry(source, sizeKiB, target));
}

#endif  // PLINKARD_TESTS_JOB_TEST_HELPERS_H_
