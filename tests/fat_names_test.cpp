#include "index/fat_names.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

std::string repeated(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

const std::string kSmile = "\xf0\x9f\x98\x80";  // U+1F600, two UTF-16 units

}  // namespace

TEST(FatNames, WhatTheTargetWouldRefuseBecomesSomethingItTakes) {
  const std::pair<std::string, std::string> cases[] = {
      {"song.mp3", "song.mp3"},
      {"a?b*c:d\"e<f>g|h\\i.mp3", "a_b_c_d_e_f_g_h_i.mp3"},
      {std::string("t\x01\x1f\x7f.mp3"), "t___.mp3"},
      {"\xff\xfe.mp3", "__.mp3"},
      {"\xc0\xaf", "__"},            // an overlong '/'
      {"\xed\xa0\x80x", "___x"},     // a UTF-16 surrogate
      {"\xe2\x82", "__"},            // cut short
      {"\xf4\x90\x80\x80", "____"},  // beyond U+10FFFF
      {"Ünïcödé " + kSmile + ".mp3", "Ünïcödé " + kSmile + ".mp3"},
      {"Best Of.", "Best Of"},
      {"Live ", "Live"},
      {"a. .b", "a. .b"},
      {" . ", "_"},
      {"", "_"},
      {"...", "_"},
      // 255 UTF-16 units at most, the extension kept, cut at a character.
      {repeated("a", 300) + ".mp3", repeated("a", 251) + ".mp3"},
      {repeated(kSmile, 200) + ".mp3", repeated(kSmile, 125) + ".mp3"},
      {repeated("a", 250) + " .mp3" + repeated("x", 0),
       repeated("a", 250) + " .mp3"},
      {repeated("a", 260) + ". .mp3", repeated("a", 251) + ".mp3"},
      {"x." + repeated("e", 300), "x." + repeated("e", 253)},
      // 255 units stay, 256 do not; an extension of 255 units is not kept.
      {repeated("€", 249) + kSmile + ".mp3",
       repeated("€", 249) + kSmile + ".mp3"},
      {repeated("€", 250) + kSmile + ".mp3", repeated("€", 250) + ".mp3"},
      {"x." + repeated("e", 254), "x." + repeated("e", 253)},
  };
  for (const auto& [name, mapped] : cases) {
    EXPECT_EQ(fatName(name), mapped) << "name: " << name;
    EXPECT_EQ(fatName(fatName(name)), fatName(name))
        << "mapped twice: " << name;
  }
}

TEST(FatNames, PathsAreMappedElementByElement) {
  const std::pair<std::string, std::string> cases[] = {
      {"Rock/AC?DC/song.mp3", "Rock/AC_DC/song.mp3"},
      {"/top?.mp3", "/top_.mp3"},
      {"Best Of./Live /x.mp3", "Best Of/Live/x.mp3"},
      {"A//B", "A//B"},
      {"Rock-AC-so:ng.mp3", "Rock-AC-so_ng.mp3"},
  };
  for (const auto& [path, mapped] : cases) {
    EXPECT_EQ(fatPath(path), mapped) << "path: " << path;
  }
}
