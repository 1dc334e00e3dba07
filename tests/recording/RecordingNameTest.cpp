#include "recording/RecordingName.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "recording/NameNumbers.h"
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

// Which name a claim takes from a directory in memory, and what it costs:
// two takes and no look once the next number is known.
TEST(RecordingNameClaimTest, TakesTheNameProbingWouldGiveInConstantTime) {
  struct Row {
    const char* name;
    std::set<std::string> present, stolen;  // stolen: looks free, taken just before us
    uint64_t remembered;                    // 0: nothing remembered
    int wantError;
    std::string wantTaken;
    int wantTakes, wantLooks;
  };
  std::set<std::string> hundred{"S.mp3"}, thief;
  for (int n = 1; n < 200; ++n) {
    (n < 100 ? hundred : thief).insert("S(" + std::to_string(n) + ").mp3");
  }
  const Row rows[] = {
      {"free plain name", {}, {}, 0, 0, "S.mp3", 1, 0},
      {"first number", {"S.mp3"}, {}, 0, 0, "S(1).mp3", 2, 0},
      {"remembered number", hundred, {}, 100, 0, "S(100).mp3", 2, 0},
      {"plain name freed again", {"S(1).mp3"}, {}, 2, 0, "S.mp3", 1, 0},
      {"nothing remembered", hundred, {}, 0, 0, "S(100).mp3", 3, 99},
      {"remembered number taken meanwhile", {"S.mp3", "S(5).mp3", "S(6).mp3"}, {}, 5, 0, "S(7).mp3", 3, 2},
      {"stolen as found", {"S.mp3"}, {"S(1).mp3", "S(2).mp3"}, 0, 0, "S(3).mp3", 4, 2},
      {"stolen past the clash limit", hundred, thief, 100, EEXIST, "S(110).mp3", 12, 10},
      {"refused", {"S."}, {}, 0, EACCES, "S.mp3", 1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    NameNumbers numbers;
    if (row.remembered > 0) {
      numbers.Remember(std::string("S") + '\0' + ".mp3", row.remembered);
    }
    std::set<std::string> present = row.present;
    int takes = 0, looks = 0;
    const RecordingName::Claim claim{[&](const std::string& path) {
                                       ++takes;
                                       if (present.count("S.") > 0) {
                                         return EACCES;
                                       }
                                       return present.insert(path).second && row.stolen.count(path) == 0 ? 0 : EEXIST;
                                     },
                                     [&](const std::string& path) { return ++looks, present.count(path) > 0; }};
    std::string taken;
    EXPECT_EQ(RecordingName::ClaimFreePath("S", ".mp3", claim, taken, 10, numbers), row.wantError);
    EXPECT_EQ(taken, row.wantTaken);
    EXPECT_EQ(takes, row.wantTakes);
    EXPECT_EQ(looks, row.wantLooks);
  }
}

TEST(RecordingNameTest, EmptyDirectoryIsTheWorkingDirectoryNeverTheRoot) {
  EXPECT_EQ(RecordingName::JoinPath("", "a.mp3"), "a.mp3");
  EXPECT_EQ(RecordingName::JoinPath("/", "a.mp3"), "/a.mp3");
  EXPECT_EQ(RecordingName::JoinPath("rec/", "a.mp3"), "rec/a.mp3");
  EXPECT_EQ(RecordingName::JoinPath("rec", "a.mp3"), "rec/a.mp3");
}

}  // namespace
