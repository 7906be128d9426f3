#include "job/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "app/front_end.h"
#include "job/fill_job.h"
#include "job_test_helpers.h"

TEST(AbsoluteForm, ResolvesLexicallyAgainstTheWorkingFolder) {
  // clang-format off
  const char* const cases[][2] = {
      {"music//rock/./../pop/", "/home/u/music/pop/"}, {"music", "/home/u/music"},
      {"", ""}, {"/", "/"}, {"//", "/"}, {"/..", "/"}, {"/../a/", "/a/"},
      {"/a/./b/../c", "/a/c"}, {".", "/home/u"}, {"./", "/home/u/"},
      {"../../../x", "/x"}, {"a/../..", "/home"}, {"a\\b/..c", "/home/u/a\\b/..c"}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(absoluteForm(c[0], "/home/u"), c[1]) << "input: " << c[0];
  }
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(absoluteForm("x/"), std::string(cwd) + "/x/");
}

TEST(OptionValues, MegabytesFromText) {
  const struct {
    const char* text;
    uint64_t expected;
  } cases[] = {
      // clang-format off
      {"12.7", 12}, {"10MB", 10}, {" 7", 7}, {"1e3", 1000}, {"0x10", 16},
      {"0.5", 0}, {"abc", 0}, {"ALL", 0}, {"-5", 0}, {"", 0}, {"-inf", 0},
      {"inf", UINT64_MAX}, {"nan", UINT64_MAX}, {"1e300", UINT64_MAX},
      {"18446744073709551615", UINT64_MAX},  // atof rounds it up to 2^64
      {"18014398509481982", 18014398509481982ULL}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(megabytesFromText(c.text), c.expected) << "input: " << c.text;
  }
}

TEST(OptionValues, NamingModeFromText) {
  // Beyond 32 bits the value is clamped, so no wrap-around lands on 0-2.
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {// clang-format off
      {"2", 2}, {"abc", 0}, {"", 0}, {"1abc", 1}, {" +2", 2}, {"-1", -1},
      {"4294967296", INT32_MAX}, {"-4294967296", INT32_MIN}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(namingModeFromText(c.text), c.expected) << "input: " << c.text;
  }
}

TEST(OptionValues, FillSizeAndUsedListSetters) {
  FillJob job;
  CaptureStdout out;
  const uint64_t largest = (uint64_t{1} << 54) - 1;
  EXPECT_TRUE(job.setFillSize(largest, false));
  EXPECT_FALSE(job.setFillSize(largest + 1, false));
  EXPECT_EQ(job.fillSize, largest * 1024);
  // A folder is no list file: it will be written, never read.
  EXPECT_TRUE(job.setUsedList(true, true, "/"));
  EXPECT_FALSE(job.bReadUsedList);
  EXPECT_TRUE(job.bWriteUsedList);
  EXPECT_EQ(job.usedListPath, "/");
  EXPECT_EQ(out.text(),
            "You need to set a valid (positive) fill size!\nUsed songs list "
            "'/' does not exist! We will create one at the end though.\n");
}
