#include "recording/AudioTagger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ogg/OggPage.h"
#include "recording/RecordingName.h"
#include "support/OggFixture.h"
#include "support/SongFixture.h"
#include "support/TempDir.h"

namespace {

TEST(AudioTaggerTitleTest, SplitsAtTheFirstDashAndReadsOtherBytesAsWindows1252) {
  struct Case {
    const char* streamTitle;
    const char* artist;
    const char* title;
  };
  const Case cases[] = {
      {"Moonlit Harbour - Tide", "Moonlit Harbour", "Tide"},
      {"A - B - C", "A", "B - C"},
      {"No dash at all", "", "No dash at all"},
      {"Hyphen-Ated - Song", "Hyphen-Ated", "Song"},
      {" - Only a title ", "", "- Only a title"},
      {"Caf\xE9 Noir - Cr\xE8me", "Caf\xC3\xA9 Noir", "Cr\xC3\xA8me"},  // Windows-1252
      {"Bj\xC3\xB6rk - J\xC3\xB3ga", "Bj\xC3\xB6rk", "J\xC3\xB3ga"},    // already UTF-8
  };
  for (const Case& test : cases) {
    const AudioTagger::Tags tags = AudioTagger::FromStreamTitle(test.streamTitle, "R\xE1""dio", "http://r/", "2024-05-01");
    EXPECT_EQ(tags.artist, test.artist) << test.streamTitle;
    EXPECT_EQ(tags.title, test.title) << test.streamTitle;
    EXPECT_EQ(tags.album, "R\xC3\xA1""dio");
    EXPECT_EQ(tags.comment, "http://r/");
    EXPECT_EQ(tags.date, "2024-05-01");
  }
}

class AudioTaggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FfmpegAvailable()) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
  }

  // What TagLib reads back from the file.
  static TagLib::PropertyMap ReadBack(const std::string& path, AudioFormat format) {
    if (format == AudioFormat::Ogg) {
      TagLib::Ogg::Vorbis::File file(path.c_str());
      return file.tag() != nullptr ? file.tag()->properties() : TagLib::PropertyMap();
    }
    if (format == AudioFormat::Opus) {
      TagLib::Ogg::Opus::File file(path.c_str());
      return file.tag() != nullptr ? file.tag()->properties() : TagLib::PropertyMap();
    }
    TagLib::MPEG::File file(path.c_str(), false);
    return file.hasID3v2Tag() ? file.ID3v2Tag()->properties() : TagLib::PropertyMap();
  }
  // Where the audio begins: after an ID3v2 tag, after an Ogg stream's
  // header pages.
  static size_t AudioStart(const std::string& bytes, AudioFormat format) {
    if (format == AudioFormat::Ogg || format == AudioFormat::Opus) {
      return static_cast<size_t>(OggHeaderPagesLength(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                      static_cast<int32_t>(bytes.size())));
    }
    if (bytes.rfind("ID3", 0) != 0) {
      return 0;
    }
    return TagLib::ID3v2::Header(TagLib::ByteVector(bytes.data(), 10)).completeTagSize();
  }

  TempDir temp;
  AudioTagger::Tags tags = AudioTagger::FromStreamTitle("Moonlit Harbour - Tide \xBD", "Harbour FM",
                                                        "http://harbour.example/live", "2024-05-01");
};

// Each format: the fields read back with TagLib, every byte after the tag
// (after the header pages) as it was, and the file still decodes; tagging
// again replaces the tag instead of adding one.
TEST_F(AudioTaggerTest, TagsReadBackAndTheAudioStaysByteForByte) {
  struct Case {
    const char* name;
    AudioFormat format;
    std::string bytes;
  };
  const std::vector<SongPart> song = {{1.5, 440}};
  const std::vector<Case> cases = {
      {"song.mp3", AudioFormat::Mp3, MakeSongs(SongCodec::Mp3, song, temp.Path()).bytes},
      {"song.aac", AudioFormat::Aac, MakeSongs(SongCodec::Aac, song, temp.Path()).bytes},
      {"song.ogg", AudioFormat::Ogg, MakeChainedOgg(OggCodec::Vorbis, {{"", "", 1.5}}, temp.Path())},
      {"song.opus", AudioFormat::Opus, MakeChainedOgg(OggCodec::Opus, {{"Old", "Band", 1.5}}, temp.Path())},
      {"chain.ogg", AudioFormat::Ogg, MakeChainedOgg(OggCodec::Vorbis, {{"Old", "", 1}, {"Next", "", 1}}, temp.Path())},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string path = temp.File(test.name);
    WriteFileBytes(path, test.bytes);
    ::chmod(path.c_str(), 0640);
    for (const char* title : {"First", "Second"}) {
      tags.title = title;
      std::string error;
      ASSERT_TRUE(AudioTagger::Tag(path, test.format, tags, &error)) << error;
      const TagLib::PropertyMap read = ReadBack(path, test.format);
      EXPECT_EQ(read["TITLE"].toString().to8Bit(true), title);
      EXPECT_EQ(read["ARTIST"].toString().to8Bit(true), "Moonlit Harbour");
      EXPECT_EQ(read["ALBUM"].toString().to8Bit(true), "Harbour FM");
      EXPECT_EQ(read["COMMENT"].toString().to8Bit(true), "http://harbour.example/live");
      EXPECT_EQ(read["DATE"].toString().to8Bit(true), "2024-05-01");
      const std::string tagged = ReadFileBytes(path);
      EXPECT_TRUE(tagged.substr(AudioStart(tagged, test.format)) == test.bytes.substr(AudioStart(test.bytes, test.format)))
          << "the audio after the tag changed";
      if (test.format == AudioFormat::Mp3 || test.format == AudioFormat::Aac) {
        EXPECT_EQ(tagged.substr(0, 4), std::string("ID3\x04", 4));
      }
      EXPECT_TRUE(FfprobeReadsWithoutError(path));
    }
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
  }
  // The title's ½ came as Windows-1252 and is written as UTF-8.
  tags = AudioTagger::FromStreamTitle("Moonlit Harbour - Tide \xBD", "", "", "");
  ASSERT_TRUE(AudioTagger::Tag(temp.File("song.mp3"), AudioFormat::Mp3, tags));
  EXPECT_EQ(ReadBack(temp.File("song.mp3"), AudioFormat::Mp3)["TITLE"].toString().to8Bit(true), "Tide \xC2\xBD");
}

// What cannot be tagged stays byte for byte, with a reason, and leaves no
// copy behind.
TEST_F(AudioTaggerTest, FailuresLeaveTheFileAsItWas) {
  struct Case {
    const char* name;
    AudioFormat format;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"not-ogg.ogg", AudioFormat::Ogg, std::string(5000, 'x')},
      {"empty.opus", AudioFormat::Opus, ""},
      {"broken-tag.mp3", AudioFormat::Mp3, std::string("ID3\x04\0\0\x7F\x7F\x7F\x7F", 10) + std::string(100, 'a')},
      {"missing.mp3", AudioFormat::Mp3, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string path = temp.File(test.name);
    if (std::string(test.name) != "missing.mp3") {
      WriteFileBytes(path, test.bytes);
    }
    std::string error;
    EXPECT_FALSE(AudioTagger::Tag(path, test.format, tags, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(ReadFileBytes(path) == test.bytes);
  }
  for (const auto& entry : std::filesystem::directory_iterator(temp.Path())) {
    EXPECT_EQ(entry.path().filename().string().find(".dh-tag-"), std::string::npos) << entry.path();
  }
}

// A title longer than a file name may be names its file at the 255-byte
// limit (with the longest "(n)"), and its tag still holds the whole title.
TEST(AudioTaggerLongTitleTest, NamesAtTheLengthLimitAreTagged) {
  std::string accents;
  while (accents.size() < 300) {
    accents += "\xC3\xA9";
  }
  TempDir temp;
  const std::string audio = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\0');
  for (const std::string& title : {std::string(240, 'a'), std::string(255, 'b'), std::string(300, 'c'), accents}) {
    SCOPED_TRACE(title.size());
    const std::string path = RecordingName::NumberedPath(temp.File(RecordingName::Stem(title)), 2147483647, ".mp3");
    WriteFileBytes(path, audio);
    std::string error;
    ASSERT_TRUE(AudioTagger::Tag(path, AudioFormat::Mp3, AudioTagger::FromStreamTitle(title, "", "", ""), &error))
        << error;
    TagLib::MPEG::File file(path.c_str(), false);
    ASSERT_TRUE(file.hasID3v2Tag());
    EXPECT_EQ(file.ID3v2Tag()->properties()["TITLE"].toString().to8Bit(true), title);
    EXPECT_TRUE(ReadFileBytes(path).substr(file.ID3v2Tag()->header()->completeTagSize()) == audio);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.Path()), {}), 4);  // no copies left
}

}  // namespace
