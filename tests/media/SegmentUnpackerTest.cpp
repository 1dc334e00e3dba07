#include "media/SegmentUnpacker.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/HlsFixture.h"
#include "support/IcyTestServer.h"
#include "support/OggFixture.h"
#include "support/TempDir.h"

namespace {

using Titles = std::vector<std::pair<int64_t, std::string>>;

std::string AudioOf(const SegmentUnpacker::Result& result) {
  return std::string(result.audio.begin(), result.audio.end());
}

Titles TitlesOf(const SegmentUnpacker::Result& result) {
  Titles titles;
  for (const SegmentUnpacker::TitleMark& mark : result.titles) {
    titles.emplace_back(mark.audioOffset, mark.title);
  }
  return titles;
}

std::string Join(const std::vector<std::string>& parts, size_t from = 0, size_t to = SIZE_MAX) {
  std::string joined;
  for (size_t index = from; index < std::min(to, parts.size()); ++index) {
    joined += parts[index];
  }
  return joined;
}

class SegmentUnpackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FfmpegAvailable()) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
  }

  // The audio of every segment, checked to be whole and of format.
  std::string UnpackAll(const HlsSegments& made, AudioFormat format) {
    std::string audio;
    for (const std::string& segment : made.segments) {
      const SegmentUnpacker::Result result = SegmentUnpacker::Unpack(segment, made.init);
      EXPECT_EQ(result.outcome, SegmentUnpacker::Outcome::Audio) << result.reason;
      EXPECT_EQ(result.format, format);
      EXPECT_TRUE(result.titles.empty());
      audio += AudioOf(result);
    }
    return audio;
  }

  TempDir dir;
};

TEST_F(SegmentUnpackerTest, TsAndFmp4SegmentsGiveBackTheEncodersFramesUnchanged) {
  const std::string adts = EncodeAdts(5.0, dir.Path());
  const std::string mp3 = EncodeMp3(5.0, dir.Path());
  struct Case {
    const char* name;
    const std::string& audio;
    const char* extension;
    HlsContainer container;
    AudioFormat format;
  };
  const Case cases[] = {
      {"AAC in TS", adts, "aac", HlsContainer::Ts, AudioFormat::Aac},
      {"AAC in fMP4: ADTS headers rebuilt from the AudioSpecificConfig", adts, "aac", HlsContainer::Fmp4,
       AudioFormat::Aac},
      {"MP3 in TS", mp3, "mp3", HlsContainer::Ts, AudioFormat::Mp3},
      {"MP3 in fMP4", mp3, "mp3", HlsContainer::Fmp4, AudioFormat::Mp3},
  };
  for (const Case& c : cases) {
    const HlsSegments made = SegmentWithFfmpeg(c.audio, c.extension, c.container, 1.0, dir.Path());
    ASSERT_GE(made.segments.size(), 4u) << c.name;
    EXPECT_EQ(UnpackAll(made, c.format), c.audio) << c.name;
  }
  // What the recorder writes decodes cleanly.
  const HlsSegments fmp4 = SegmentWithFfmpeg(adts, "aac", HlsContainer::Fmp4, 1.0, dir.Path());
  WriteFileBytes(dir.Path() / "out.aac", UnpackAll(fmp4, AudioFormat::Aac));
  EXPECT_TRUE(FfprobeReadsWithoutError(dir.Path() / "out.aac"));
}

TEST_F(SegmentUnpackerTest, PackedAudioTitlesComeFromItsId3Tags) {
  const std::vector<std::string> frames = SplitAdtsFrames(EncodeAdts(1.0, dir.Path()));
  const std::vector<std::string> mp3Frames = SplitMpegAudioFrames(EncodeMp3(1.0, dir.Path()));
  const std::string both = Id3Tag("Song = One", "B\xC3\xA4nd", dir.Path());
  const std::string titleOnly = Id3Tag("Only Title", "", dir.Path());
  const std::string none = Id3Tag("", "", dir.Path());  // the encoder's name only, as PRIV-only tags
  const std::string head = Join(frames, 0, 10);
  const std::string tail = Join(frames, 10);
  struct Case {
    const char* name;
    std::string segment;
    std::string audio;
    Titles titles;
  };
  const Case cases[] = {
      {"artist and title", both + head, head, {{0, "B\xC3\xA4nd - Song = One"}}},
      {"title only", titleOnly + head, head, {{0, "Only Title"}}},
      {"a tag without title or artist gives none", none + head, head, {}},
      {"two leading tags", none + both + head, head, {{0, "B\xC3\xA4nd - Song = One"}}},
      {"a tag between frames takes effect at the next frame", none + head + titleOnly + tail, head + tail,
       {{static_cast<int64_t>(head.size()), "Only Title"}}},
      {"mp3", both + Join(mp3Frames), Join(mp3Frames), {{0, "B\xC3\xA4nd - Song = One"}}},
      {"no tag", head, head, {}},
  };
  for (const Case& c : cases) {
    const SegmentUnpacker::Result result = SegmentUnpacker::Unpack(c.segment);
    EXPECT_EQ(result.outcome, SegmentUnpacker::Outcome::Audio) << c.name << ": " << result.reason;
    EXPECT_TRUE(AudioOf(result) == c.audio) << c.name;
    EXPECT_EQ(TitlesOf(result), c.titles) << c.name;
  }
}

TEST_F(SegmentUnpackerTest, TimedId3InTsTakesEffectAtItsFrame) {
  const std::vector<std::string> frames = SyntheticAdtsFrames(60, 7);
  const std::string first = Id3Tag("First", "A", dir.Path());
  const std::string second = Id3Tag("Second", "B", dir.Path());
  // A muxer that wraps the tag in a metadata AU cell (5 bytes) is read too.
  const std::string wrapped = std::string("\x00\x01\xC0\x00\x00", 5) + second;
  const std::string ts = MuxTimedId3Ts(frames, {{0, first}, {25, Id3Tag("", "", dir.Path())}, {37, second}});
  const std::string tsWrapped = MuxTimedId3Ts(frames, {{0, first}, {37, wrapped}});
  const auto offset = static_cast<int64_t>(Join(frames, 0, 37).size());
  for (const std::string* segment : {&ts, &tsWrapped}) {
    const SegmentUnpacker::Result result = SegmentUnpacker::Unpack(*segment);
    ASSERT_EQ(result.outcome, SegmentUnpacker::Outcome::Audio) << result.reason;
    EXPECT_TRUE(AudioOf(result) == Join(frames));
    EXPECT_EQ(TitlesOf(result), (Titles{{0, "A - First"}, {offset, "B - Second"}}));
  }
  // Tags before the first TS packet, as some packagers write them.
  const SegmentUnpacker::Result prefixed = SegmentUnpacker::Unpack(Id3Tag("Lead", "", dir.Path()) + ts);
  ASSERT_EQ(prefixed.outcome, SegmentUnpacker::Outcome::Audio) << prefixed.reason;
  EXPECT_TRUE(AudioOf(prefixed) == Join(frames));
  EXPECT_EQ(TitlesOf(prefixed), (Titles{{0, "Lead"}, {0, "A - First"}, {offset, "B - Second"}}));
}

TEST_F(SegmentUnpackerTest, BrokenSegmentsGiveAReasonNeverACrash) {
  const std::string adts = EncodeAdts(2.0, dir.Path());
  const HlsSegments ts = SegmentWithFfmpeg(adts, "aac", HlsContainer::Ts, 1.0, dir.Path());
  const HlsSegments fmp4 = SegmentWithFfmpeg(adts, "aac", HlsContainer::Fmp4, 1.0, dir.Path());
  std::string scrambled = ts.segments[0];
  for (size_t at = scrambled.size() / 2; at < scrambled.size(); at += 7) {
    scrambled[at] = static_cast<char>(scrambled[at] ^ 0x5A);
  }
  std::string hugeTag = "ID3\x04" + std::string(1, '\0') + std::string(1, '\0') + "\x7F\x7F\x7F\x7F";
  struct Case {
    const char* name;
    std::string segment;
    std::string init;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"noise", TestBytes(50000, 3), ""},
      {"TS sync bytes over noise", "\x47" + TestBytes(187, 4) + "\x47" + TestBytes(5000, 5), ""},
      {"the first packet of a TS", ts.segments[0].substr(0, 188), ""},
      {"a TS packet cut short", ts.segments[0].substr(0, 100), ""},
      {"a fragment without its init segment", fmp4.segments[1], ""},
      {"an init segment alone", "", fmp4.init},
      {"a fragment with a broken init segment", fmp4.segments[1], fmp4.init.substr(0, fmp4.init.size() / 2)},
      {"an ID3 tag claiming more than there is", hugeTag + adts.substr(0, 500), ""},
      {"an ID3 tag alone", Id3Tag("x", "", dir.Path()), ""},
      {"an ADTS frame cut short", adts.substr(0, 20), ""},
  };
  for (const Case& c : cases) {
    const SegmentUnpacker::Result result = SegmentUnpacker::Unpack(c.segment, c.init);
    EXPECT_NE(result.outcome, SegmentUnpacker::Outcome::Audio) << c.name;
    EXPECT_FALSE(result.reason.empty()) << c.name;
    EXPECT_TRUE(result.audio.empty()) << c.name;
  }
  // Damage after the start keeps the audio before it.
  for (const std::string& damaged : {ts.segments[0].substr(0, ts.segments[0].size() / 2), scrambled}) {
    const SegmentUnpacker::Result result = SegmentUnpacker::Unpack(damaged);
    EXPECT_EQ(result.outcome, SegmentUnpacker::Outcome::Audio) << result.reason;
    EXPECT_FALSE(result.audio.empty());
    EXPECT_LT(result.audio.size(), adts.size());
  }
}

TEST_F(SegmentUnpackerTest, MutatedSegmentsNeverCrashNorGrowTheirAudio) {
  const std::string adts = EncodeAdts(2.0, dir.Path());
  const HlsSegments ts = SegmentWithFfmpeg(adts, "aac", HlsContainer::Ts, 1.0, dir.Path());
  const HlsSegments fmp4 = SegmentWithFfmpeg(adts, "aac", HlsContainer::Fmp4, 1.0, dir.Path());
  const std::string packed = Id3Tag("T", "A", dir.Path()) + adts.substr(0, 4000);
  std::mt19937 random(2024);
  for (const auto& [segment, init] : {std::pair{ts.segments[0], std::string()}, std::pair{fmp4.segments[0], fmp4.init},
                                      std::pair{packed, std::string()}}) {
    for (int round = 0; round < 150; ++round) {
      std::string mutated = segment;
      std::string mutatedInit = init;
      std::string& target = (!init.empty() && round % 3 == 0) ? mutatedInit : mutated;
      for (int flips = 1 + static_cast<int>(random() % 8); flips > 0 && !target.empty(); --flips) {
        target[random() % target.size()] = static_cast<char>(random());
      }
      if (round % 5 == 0) {
        target.resize(random() % (target.size() + 1));
      }
      const SegmentUnpacker::Result result = SegmentUnpacker::Unpack(mutated, mutatedInit);
      EXPECT_LE(result.audio.size(), 2 * (mutated.size() + mutatedInit.size()));
      EXPECT_EQ(result.outcome == SegmentUnpacker::Outcome::Audio, result.reason.empty());
      for (const SegmentUnpacker::TitleMark& mark : result.titles) {
        EXPECT_LE(static_cast<size_t>(mark.audioOffset), result.audio.size());
      }
    }
  }
}

TEST_F(SegmentUnpackerTest, AudioThatCannotBeRecordedIsUnsupported) {
  const SegmentUnpacker::Result ac3 = SegmentUnpacker::Unpack(EncodeTs(1.0, "ac3", dir.Path()));
  EXPECT_EQ(ac3.outcome, SegmentUnpacker::Outcome::Unsupported);
  EXPECT_NE(ac3.reason.find("ac3"), std::string::npos) << ac3.reason;
  EXPECT_TRUE(ac3.audio.empty());
}

TEST(SegmentUnpackerHeaderTest, Id3TagSizesComeFromTheirHeaders) {
  const std::pair<std::string, size_t> cases[] = {
      {std::string("ID3\x04\x00\x00\x00\x00\x02\x01", 10), 10 + 257},
      {std::string("ID3\x04\x00\x10\x00\x00\x00\x05", 10), 10 + 5 + 10},  // with a footer
      {std::string("ID3\x03\x00\x00\x00\x00\x80\x01", 10), 0},            // not syncsafe
      {std::string("ID3\xFF\x00\x00\x00\x00\x00\x01", 10), 0},
      {std::string("ID3\x04\x00\x00\x00\x00\x00", 9), 0},
      {"TAG", 0},
  };
  for (const auto& [bytes, size] : cases) {
    EXPECT_EQ(SegmentUnpacker::Id3TagSize(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), size);
  }
  std::string title;
  EXPECT_FALSE(SegmentUnpacker::TitleFromId3(reinterpret_cast<const uint8_t*>("ID3"), 3, title));
}

}  // namespace
