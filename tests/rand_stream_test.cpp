#include "plan/rand_stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "job_test_helpers.h"

namespace {

std::vector<uint32_t> drawWithRand(unsigned seed, size_t count) {
  std::srand(seed);
  std::vector<uint32_t> numbers;
  for (size_t i = 0; i < count; ++i) numbers.push_back(uint32_t(std::rand()));
  return numbers;
}

// Draws `streamed` numbers from each of `streams` streams in turn, then
// `after` from rand() itself.
std::vector<uint32_t> drawWithStreams(unsigned seed, int streams,
                                      size_t streamed, size_t after) {
  std::srand(seed);
  std::vector<uint32_t> numbers;
  for (int s = 0; s < streams; ++s) {
    RandStream random;
    EXPECT_TRUE(random.drawsByItself()) << "seed " << seed;
    for (size_t i = 0; i < streamed; ++i) numbers.push_back(random.next());
  }
  for (size_t i = 0; i < after; ++i) numbers.push_back(uint32_t(std::rand()));
  return numbers;
}

}  // namespace

TEST(RandStream, DrawsWhatRandDrawsAndHandsTheStateBack) {
  for (unsigned seed : {0u, 1u, 42u, 1700000000u}) {
    for (int streams : {1, 2, 3}) {
      const std::vector<uint32_t> expected =
          drawWithRand(seed, size_t(streams) * 1000 + 100);
      EXPECT_EQ(drawWithStreams(seed, streams, 1000, 100), expected)
          << "seed " << seed << ", streams " << streams;
    }
  }
}

TEST(RandStream, FollowsRandWithAStateOfAnotherSize) {
  alignas(int32_t) static char state[256];
  initstate(9, state, sizeof state);
  std::vector<uint32_t> expected;
  for (int i = 0; i < 500; ++i) expected.push_back(uint32_t(std::rand()));
  initstate(9, state, sizeof state);
  std::vector<uint32_t> streamed;
  {
    RandStream random;
    EXPECT_FALSE(random.drawsByItself());
    for (int i = 0; i < 400; ++i) streamed.push_back(random.next());
  }
  for (int i = 0; i < 100; ++i) streamed.push_back(uint32_t(std::rand()));
  EXPECT_EQ(streamed, expected);
  alignas(int32_t) static char standard[128];
  initstate(1, standard, sizeof standard);  // back to the usual size
}

// The planner's choice is the one a shuffle on rand() itself gives.
TEST(RandStream, PlannerPlansAsWithRand) {
  const uint64_t fillSize = 20000;
  FillJob job;
  for (uint32_t i = 0; i < 300; ++i) addSong(job, 100 + (i * 7919) % 900);
  for (unsigned seed : {3u, 99u}) {
    std::srand(seed);
    std::vector<uint32_t> positions(job.songs.size()), best;
    for (uint32_t i = 0; i < positions.size(); ++i) positions[i] = i;
    uint64_t bestTotal = 0;
    for (int choice = 0; choice < 5; ++choice) {
      for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 1; i < positions.size(); ++i) {
          std::swap(positions[i], positions[size_t(std::rand()) % (i + 1)]);
        }
      }
      std::vector<uint32_t> current;
      uint64_t total = 0;
      for (uint32_t p : positions) {
        if (job.songs[p].sizeKiB < fillSize - total) {
          current.push_back(p);
          total += job.songs[p].sizeKiB;
        }
      }
      if (choice == 0 ||
          total * 1000 / fillSize > bestTotal * 1000 / fillSize) {
        best = current;
        bestTotal = total;
      }
    }
    job.fillSize = fillSize;
    job.plan.clear();
    std::srand(seed);
    CaptureStdout capture;
    job.createPlan(5);
    EXPECT_EQ(job.plan, best) << "seed " << seed;
    EXPECT_EQ(job.planSize, bestTotal) << "seed " << seed;
  }
}
