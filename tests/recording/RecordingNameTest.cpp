#include "recording/RecordingName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace {

std::string Repeat(const std::string& piece, size_t atLeast, std::string start = "") {
  while (start.size() < atLeast) {
    start += piece;
  }
  return start;
}

// A title, and the file name part it must give.
struct StemRow {
  const char* name;
  std::string title;
  std::string stem;
};

class RecordingNameStemTest : public ::testing::TestWithParam<StemRow> {};

TEST_P(RecordingNameStemTest, TitleGivesAHarmlessUtf8Stem) {
  const StemRow& row = GetParam();
  const std::string stem = RecordingName::Stem(row.title);
  EXPECT_EQ(stem, row.stem);
  EXPECT_LE(stem.size(), RecordingName::kMaxStemBytes);
}

constexpr size_t kMax = RecordingName::kMaxStemBytes;
const std::string kAccents = Repeat("\xC3\xA9", 300);        // é, two bytes each
const std::string kEmoji = Repeat("\xF0\x9F\x8E\xB5", 300, "x");  // four bytes each, after one

INSTANTIATE_TEST_SUITE_P(
    Titles, RecordingNameStemTest,
    ::testing::Values(StemRow{"Slash", "AC/DC - Back in Black", "AC_DC - Back in Black"},
                      StemRow{"ParentPath", "../../.bashrc", "_._.._.bashrc"},
                      StemRow{"DotDot", "..", "_"},
                      StemRow{"TrailingBlankAndDots", "Bad . ", "Bad"},
                      StemRow{"OnlyDotsAndBlanks", " . ", "_"},
                      StemRow{"Root", "/", "_"},
                      StemRow{"ControlCharacters", "a\tb\nc\x01", "a_b_c_"},
                      StemRow{"Delete", "x\x7Fy", "x_y"},
                      StemRow{"Utf8StaysAsItIs", "Caf\xC3\xA9", "Caf\xC3\xA9"},
                      StemRow{"Windows1252BecomesUtf8", "Caf\xE9 \x7F", "Caf\xC3\xA9 _"},
                      StemRow{"OverlongAscii", std::string(300, 'x'), std::string(kMax, 'x')},
                      StemRow{"OverlongTwoByteCharacters", kAccents, kAccents.substr(0, kMax - kMax % 2)},
                      StemRow{"OverlongFourByteCharacters", kEmoji, kEmoji.substr(0, 1 + (kMax - 1) / 4 * 4)}),
    [](const ::testing::TestParamInfo<StemRow>& info) { return std::string(info.param.name); });

TEST(RecordingNameTest, UniquePathCountsPastEveryTakenName) {
  TempDir temp;
  const std::string base = temp.File("Song");
  EXPECT_EQ(RecordingName::MakeUniquePath(base, ".mp3"), base + ".mp3");
  WriteFileBytes(temp.Path() / "Song.mp3", "");
  std::filesystem::create_directory(temp.Path() / "Song(1).mp3");
  std::filesystem::create_symlink(temp.Path() / "nowhere", temp.Path() / "Song(2).mp3");
  EXPECT_EQ(RecordingName::MakeUniquePath(base, ".mp3"), base + "(3).mp3");
  EXPECT_EQ(RecordingName::MakeUniquePath(base, ".aac"), base + ".aac");
}

TEST(RecordingNameTest, EmptyDirectoryIsTheWorkingDirectoryNeverTheRoot) {
  EXPECT_EQ(RecordingName::JoinPath("", "a.mp3"), "a.mp3");
  EXPECT_EQ(RecordingName::JoinPath("/", "a.mp3"), "/a.mp3");
  EXPECT_EQ(RecordingName::JoinPath("rec/", "a.mp3"), "rec/a.mp3");
  EXPECT_EQ(RecordingName::JoinPath("rec", "a.mp3"), "rec/a.mp3");
}

}  // namespace
