#ifndef PLINKARD_TESTS_JOB_TEST_HELPERS_H_
#define PLINKARD_TESTS_JOB_TEST_HELPERS_H_

#include <iostream>
#include <sstream>
#include <string>

#include "job/fill_job.h"

// Collects what the program writes to std::cout while it lives.
class CaptureStdout {
 public:
  CaptureStdout() : saved_(std::cout.rdbuf(text_.rdbuf())) {}
  ~CaptureStdout() { std::cout.rdbuf(saved_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* saved_;
};

// Appends a hand-made song to job.songs.
inline void addSong(FillJob& job, uint32_t sizeKiB,
                    const std::string& source = "",
                    const std::string& target = "") {
  job.songs.push_back(SongEntry{source, 0, sizeKiB, target});
}

#endif  // PLINKARD_TESTS_JOB_TEST_HELPERS_H_
