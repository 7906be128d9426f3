#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "child_process.h"
#include "convert/converter.h"
#include "convert/size_estimate.h"
#include "convert/song_facts.h"
#include "convert_test_songs.h"
#include "os/files_below.h"
#include "test_util.h"

namespace {

ConvertFormat formatOf(const std::string& text) {
  ConvertFormat format;
  std::string error;
  EXPECT_TRUE(parseConvertFormat(text, format, error)) << text << ": " << error;
  return format;
}

TEST(ConvertFormat, ParsesNamesAndBitratesWithinTheirRanges) {
  const struct Case {
    const char* text;
    bool ok;
    unsigned kbps;
    const char* extension;
  } cases[] = {
      {"mp3", true, 192, ".mp3"},     {"mp3:32", true, 32, ".mp3"},
      {"mp3:320", true, 320, ".mp3"}, {"mp3:321", false, 0, ""},
      {"mp3:31", false, 0, ""},       {"m4a", true, 192, ".m4a"},
      {"m4a:512", true, 512, ".m4a"}, {"opus", true, 128, ".opus"},
      {"opus:6", true, 6, ".opus"},   {"opus:511", false, 0, ""},
      {"ogg", true, 160, ".ogg"},     {"ogg:44", false, 0, ""},
      {"ogg:500", true, 500, ".ogg"}, {"flac", false, 0, ""},
      {"MP3", false, 0, ""},          {"mp3:", false, 0, ""},
      {"mp3:1e2", false, 0, ""},      {"mp3:+64", false, 0, ""},
      {"mp3:00064", false, 0, ""},    {"", false, 0, ""},
  };
  for (const Case& c : cases) {
    ConvertFormat format;
    std::string error;
    EXPECT_EQ(parseConvertFormat(c.text, format, error), c.ok)
        << "input: " << c.text;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << "input: " << c.text;
      continue;
    }
    EXPECT_EQ(format.kbps, c.kbps) << "input: " << c.text;
    EXPECT_EQ(format.extension, c.extension) << "input: " << c.text;
  }
}

class Convert : public testing::Test {
 protected:
  const TestSongs* songs = &testSongs();

  // Names in `out`, sorted; temporary files would show here.
  std::set<std::string> outNames() const { return listTree(out.path()); }

  TempDir out;
  os::HeldFolder held;
};

TEST_F(Convert, CarriesAudioTagsAndCoverIntoEachFormat) {
  const struct Case {
    const char* source;
    const char* format;
    const char* codec;
    int64_t bitRate;  // 0: variable, not checked
    int rate;
    int channels;
    bool cover;
  } cases[] = {
      {"tagged.flac", "mp3:128", "mp3", 128000, 44100, 2, true},
      {"tagged.flac", "m4a", "aac", 0, 44100, 2, true},
      {"tagged.flac", "opus:64", "opus", 0, 48000, 2, false},
      {"tagged.flac", "ogg", "vorbis", 0, 44100, 2, false},
      {"surround96k.wav", "mp3", "mp3", 192000, 44100, 2, false},
      {"surround96k.wav", "opus", "opus", 0, 48000, 2, false},
      {"surround96k.wav", "m4a:96", "aac", 0, 44100, 2, false},
      {"mono48k.mp3", "ogg:64", "vorbis", 0, 48000, 1, false},
      {"mono48k.mp3", "m4a:64", "aac", 0, 48000, 1, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string context = std::string(c.source) + " to " + c.format;
    const ConvertFormat format = formatOf(c.format);
    const std::string target =
        out / ("song" + std::to_string(n++) + format.extension);
    const ConvertResult result =
        convertSong(songs->path(c.source), held, target, format, nullptr);
    ASSERT_EQ(result.status, ConvertStatus::Converted)
        << context << ": " << result.error;
    SongFacts facts;
    ASSERT_EQ(readSongFacts(target, format, facts), "") << context;
    EXPECT_EQ(facts.codec, c.codec) << context;
    EXPECT_TRUE(facts.inFormat) << context;
    if (c.bitRate != 0) {
      EXPECT_EQ(facts.bitRate, c.bitRate) << context;
    }
    EXPECT_EQ(facts.sampleRate, c.rate) << context;
    EXPECT_EQ(facts.channels, c.channels) << context;
    EXPECT_NEAR(static_cast<double>(facts.durationMs),
                static_cast<double>(songs->durationMs(c.source)), 150)
        << context;
    EXPECT_EQ(result.bytes, fileSize(target)) << context;
    EXPECT_EQ(facts.coverBytes > 0, c.cover) << context;
  }
  EXPECT_EQ(outNames().size(), std::size(cases));
}

TEST_F(Convert, KeepsTagsAndTurnsReplayGainIntoR128ForOpus) {
  const char* const kept[][2] = {{"title", "Song Title"},
                                 {"artist", "The Artist"},
                                 {"album_artist", "Various"},
                                 {"album", "The Album"},
                                 {"track", "3/12"},
                                 {"disc", "1/2"},
                                 {"genre", "Rock"}};
  for (const char* name : {"mp3", "m4a", "opus", "ogg"}) {
    const ConvertFormat format = formatOf(name);
    const std::string target = out / ("tags" + format.extension);
    ASSERT_EQ(
        convertSong(songs->path("tagged.flac"), held, target, format, nullptr)
            .status,
        ConvertStatus::Converted)
        << name;
    SongFacts facts;
    ASSERT_EQ(readSongFacts(target, format, facts), "") << name;
    for (const auto& tag : kept) {
      EXPECT_EQ(facts.tags[tag[0]], tag[1]) << name << ", tag " << tag[0];
    }
    EXPECT_EQ(facts.tags["date"].substr(0, 4), "2001") << name;
    const bool opus = std::string(name) == "opus";
    EXPECT_EQ(facts.tags["replaygain_track_gain"], opus ? "" : "-6.50 dB")
        << name;
    EXPECT_EQ(facts.tags["replaygain_album_gain"], opus ? "" : "-7.00 dB")
        << name;
    EXPECT_EQ(facts.tags["r128_track_gain"], opus ? "-2944" : "") << name;
    EXPECT_EQ(facts.tags["r128_album_gain"], opus ? "-3072" : "") << name;
  }
}

TEST_F(Convert, PutsTheM4AIndexBeforeItsData) {
  const std::string target = out / "front.m4a";
  ASSERT_EQ(convertSong(songs->path("tagged.flac"), held, target,
                        formatOf("m4a"), nullptr)
                .status,
            ConvertStatus::Converted);
  const std::string bytes = readText(target);
  ASSERT_NE(bytes.find("mdat"), std::string::npos);
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

TEST_F(Convert, ReportsSongsInTheFormatAlreadyByCodecNotName) {
  for (const char* source : {"mono48k.mp3", "mp3-named.flac"}) {
    const ConvertResult result = convertSong(
        songs->path(source), held, out / "x.mp3", formatOf("mp3:64"), nullptr);
    EXPECT_EQ(result.status, ConvertStatus::InFormat) << source;
  }
  EXPECT_EQ(convertSong(songs->path("tagged.flac"), held, out / "x.ogg",
                        formatOf("ogg"), nullptr)
                .status,
            ConvertStatus::Converted);
  EXPECT_EQ(outNames(), std::set<std::string>{"x.ogg"});
}

TEST_F(Convert, FailsWithTheReasonAndLeavesNothing) {
  writeText(out / "taken.mp3", "mine");
  const struct Case {
    std::string source, target, reason;
  } cases[] = {
      {songs->path("garbage.flac"), out / "a.mp3",
       "Can't decode: Stream not found"},
      {songs->path("missing.flac"), out / "b.mp3", "No such file"},
      {songs->path("tagged.flac"), out / "taken.mp3", "File exists"},
      {songs->path("tagged.flac"), out / "no/such/folder.mp3", "No such file"},
  };
  for (const Case& c : cases) {
    const ConvertResult result =
        convertSong(c.source, held, c.target, formatOf("mp3"), nullptr);
    EXPECT_EQ(result.status, ConvertStatus::Failed) << c.target;
    EXPECT_NE(result.error.find(c.reason), std::string::npos)
        << c.target << ": " << result.error;
  }
  EXPECT_EQ(readText(out / "taken.mp3"), "mine");
  EXPECT_EQ(outNames(), std::set<std::string>{"taken.mp3"});
}

TEST_F(Convert, StopRemovesTheTemporaryFile) {
  int asked = 0;
  const ConvertResult result =
      convertSong(songs->path("tagged.flac"), held, out / "s.mp3",
                  formatOf("mp3"), [&] { return ++asked == 5; });
  EXPECT_EQ(result.status, ConvertStatus::Interrupted);
  EXPECT_EQ(asked, 5);
  EXPECT_TRUE(outNames().empty());
}

TEST_F(Convert, WritesBelowTheHeldFolderAndThroughLongPaths) {
  ASSERT_FALSE(held.hold(out.path()));
  const std::string deep = makeLongPath(out.path(), PATH_MAX + 100);
  const std::string relative = deep.substr(out.path().size() + 1);
  const ConvertResult result =
      convertSong(songs->path("tagged.flac"), held, relative + "/x.opus",
                  formatOf("opus"), nullptr);
  ASSERT_EQ(result.status, ConvertStatus::Converted) << result.error;
  // The held folder, not the working one, is where the target went.
  os::FileStatus landed;
  ASSERT_FALSE(os::statusBelow(held, relative + "/x.opus", landed));
  EXPECT_EQ(result.bytes, landed.size);
}

TEST_F(Convert, FullVolumeFailsWithItsErrorAndLeavesNothing) {
  if (mount("tmpfs", out.path().c_str(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  const ConvertResult result =
      convertSong(songs->path("tagged.flac"), held, out / "big.m4a",
                  formatOf("m4a:320"), nullptr);
  const std::set<std::string> left = outNames();
  umount2(out.path().c_str(), MNT_DETACH);
  EXPECT_EQ(result.status, ConvertStatus::Failed);
  EXPECT_EQ(result.systemError, std::errc::no_space_on_device) << result.error;
  EXPECT_TRUE(result.targetSide);
  EXPECT_TRUE(left.empty());
}

TEST_F(Convert, RemovesLeftoversOfProcessesThatRunNoMore) {
  // A process that has ended: its id is free until reused.
  ChildOptions quiet;
  ChildProcess child({"true"}, quiet);
  const std::string gone = std::to_string(child.pid());
  child.wait();
  const std::string mine = std::to_string(getpid());
  const std::string names[] = {
      ".plinkard-convert." + gone + ".3.tmp",
      ".plinkard-convert." + mine + ".0.tmp", ".plinkard-convert.x.1.tmp",
      ".plinkard-convert." + gone + ".tmp", "song.mp3"};
  for (const std::string& name : names) {
    writeText(out / name, "x");
  }
  EXPECT_EQ(removeConvertLeftovers(held, out.path()), 1u);
  EXPECT_EQ(outNames().count(".plinkard-convert." + gone + ".3.tmp"), 0u);
  EXPECT_EQ(outNames().size(), 4u);
}

TEST_F(Convert, EstimatesTheConvertedSizeClosely) {
  // Constant rates come within a few per cent even for a short song with a
  // cover; Vorbis spends less than its bitrate on a steady tone.
  for (const char* formatText : {"mp3", "mp3:64", "m4a", "opus", "opus:256"}) {
    const ConvertFormat format = formatOf(formatText);
    SongFacts facts;
    ASSERT_EQ(readSongFacts(songs->path("tagged.flac"), format, facts), "");
    SongShape shape;
    shape.durationMs = facts.durationMs;
    shape.sampleRate = static_cast<unsigned>(facts.sampleRate);
    shape.channels = static_cast<unsigned>(facts.channels);
    shape.pictureBytes = facts.coverBytes;
    for (const auto& tag : facts.tags) {
      ++shape.tagCount;
      shape.tagBytes += tag.first.size() + tag.second.size();
    }
    const ConvertResult result =
        convertSong(songs->path("tagged.flac"), held,
                    out / (std::string("e") + formatText), format, nullptr);
    ASSERT_EQ(result.status, ConvertStatus::Converted) << formatText;
    const double estimate =
        static_cast<double>(estimateConvertedBytes(format, shape));
    EXPECT_NEAR(estimate / static_cast<double>(result.bytes), 1.0, 0.05)
        << formatText << ": estimate " << estimate << ", real " << result.bytes;
  }
}

}  // namespace
