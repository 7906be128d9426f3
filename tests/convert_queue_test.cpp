#include "convert/convert_queue.h"

#include <gtest/gtest.h>

#include <atomic>

#include "convert_test_songs.h"
#include "test_util.h"

namespace {

// Longest first, so that with threads the later songs finish first.
const char* const kSources[] = {"tagged.flac",  "surround96k.wav",
                                "garbage.flac", "mono48k.mp3",
                                "tagged.flac",  "surround96k.wav"};
const ConvertStatus kExpected[] = {
    ConvertStatus::Converted, ConvertStatus::Converted,
    ConvertStatus::Failed,    ConvertStatus::InFormat,
    ConvertStatus::Converted, ConvertStatus::Converted};

std::string targetOf(const TempDir& out, size_t i) {
  return out / ("song" + std::to_string(i) + ".mp3");
}

class ConvertQueueTest : public testing::TestWithParam<size_t> {
 protected:
  ConvertQueue::Settings settings() const {
    ConvertQueue::Settings settings;
    settings.threads = GetParam();
    settings.waiting = 1;
    settings.format.kbps = 64;
    return settings;
  }

  TempDir out;
  os::HeldFolder held;
};

TEST_P(ConvertQueueTest, HandsResultsBackAndPlacesSongsInTheOrderAdded) {
  ConvertQueue queue(held, settings());
  for (size_t i = 0; i < std::size(kSources); ++i) {
    queue.add(testSongs().path(kSources[i]), targetOf(out, i));
  }
  std::set<std::string> landed;
  for (size_t i = 0; i < std::size(kSources); ++i) {
    const ConvertResult result = queue.next();
    EXPECT_EQ(result.status, kExpected[i])
        << "song " << i << ": " << result.error;
    if (result.status == ConvertStatus::Converted) {
      landed.insert("song" + std::to_string(i) + ".mp3");
      EXPECT_EQ(result.bytes, fileSize(targetOf(out, i))) << "song " << i;
    }
    // Songs further on may wait under temporary names, never their own.
    std::set<std::string> named;
    for (const std::string& name : listTree(out.path())) {
      if (name[0] != '.') named.insert(name);
    }
    EXPECT_EQ(named, landed) << "after song " << i;
  }
  EXPECT_EQ(queue.pending(), 0u);
  EXPECT_EQ(listTree(out.path()), landed);
}

TEST_P(ConvertQueueTest, StopLeavesOnlyTheSongsHandedBack) {
  std::set<std::string> landed;
  {
    std::atomic<bool> stop{false};
    ConvertQueue::Settings s = settings();
    s.stop = [&stop] { return stop.load(); };
    ConvertQueue queue(held, s);
    for (size_t i = 0; i < std::size(kSources); ++i) {
      queue.add(testSongs().path(kSources[i]), targetOf(out, i));
    }
    EXPECT_EQ(queue.next().status, ConvertStatus::Converted);
    landed.insert("song0.mp3");
    stop = true;
    // A song done before the stop is still placed. Songs 1 to 3 may have
    // begun (two threads, one waiting); song 4 cannot have.
    for (size_t i = 1; i < 4; ++i) {
      if (queue.next().status == ConvertStatus::Converted) {
        landed.insert("song" + std::to_string(i) + ".mp3");
      }
    }
    EXPECT_EQ(queue.next().status, ConvertStatus::Interrupted);
    // The rest go with the queue, converted or not.
  }
  EXPECT_EQ(listTree(out.path()), landed);
}

INSTANTIATE_TEST_SUITE_P(Threads, ConvertQueueTest, testing::Values(0, 1, 2),
                         [](const testing::TestParamInfo<size_t>& info) {
                           return "threads" + std::to_string(info.param);
                         });

}  // namespace
