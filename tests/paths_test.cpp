#include "job/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

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
