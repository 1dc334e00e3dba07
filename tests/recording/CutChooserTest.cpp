#include "recording/CutChooser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "recording/TitleLag.h"

namespace {

// Block levels drawn as text, one character a block of 10 samples (1000
// samples a second): 'L' loud, 'q' -60 dB, 's' -80 dB, 'z' -120 dB, '0'
// digital silence. The threshold is -50 dB, so a stretch needs 10 quiet
// blocks (100 ms).
LoudnessMeter::Levels Draw(const std::string& picture) {
  LoudnessMeter::Levels levels;
  levels.blockLength = 10;
  levels.rate = 1000;
  for (const char block : picture) {
    levels.blocks.push_back(block == 'L' ? 1.0 : block == 'q' ? 1e-6 : block == 's' ? 1e-8 : block == 'z' ? 1e-12 : 0.0);
  }
  return levels;
}

struct QuietRow {
  const char* name;
  std::string picture;
  int64_t rangeFirst;
  int64_t rangeLast;
  int64_t target;
  std::optional<int64_t> middle;  // the sample the cut goes nearest to
};

class CutChooserQuietTest : public ::testing::TestWithParam<QuietRow> {};

TEST_P(CutChooserQuietTest, PicksTheMiddleOfTheBestQuietStretch) {
  const QuietRow& row = GetParam();
  EXPECT_EQ(CutChooser::QuietestMiddle(Draw(row.picture), 1e-5, row.rangeFirst, row.rangeLast, row.target), row.middle);
}

const std::string q10(10, 'q');

INSTANTIATE_TEST_SUITE_P(
    Stretches, CutChooserQuietTest,
    ::testing::Values(
        QuietRow{"ShorterThanTheMinimumIsNoStretch", "LLLLL" + std::string(9, 'q') + "LLLLL", 0, 190, 0, std::nullopt},
        QuietRow{"MinimumLengthIsEnough", "LLLLL" + q10 + "LLLLL", 0, 190, 0, 100},
        QuietRow{"QuieterWinsOverLonger", std::string(20, 'q') + "L" + std::string(10, 's') + "L", 0, 320, 0, 260},
        QuietRow{"LongerWinsAtTheSameLevel", q10 + "L" + std::string(15, 'q') + "L", 0, 270, 0, 185},
        QuietRow{"NearerWinsWhenLevelAndLengthAreEqual", q10 + "LLLLL" + q10 + "L", 0, 260, 190, 200},
        QuietRow{"LevelsBelowTheFloorCountAsEqual", std::string(10, 'z') + "L" + std::string(12, '0') + "L", 0, 240,
                 0, 170},
        QuietRow{"AStretchOutsideTheRangeCannotHoldTheCut", q10 + std::string(10, 'L') + std::string(10, 's') + "L", 0,
                 100, 0, 50},
        QuietRow{"AStretchReachingIntoTheRangeCounts", std::string(12, 's') + "LLL", 100, 150, 100, 60}),
    [](const ::testing::TestParamInfo<QuietRow>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The learned lag: nothing until enough cuts, then the median of the last
// ones, which a stray offset does not move and old ones leave.
TEST(TitleLagTest, MedianOfTheLastCutsOnceThereAreEnough) {
  struct Row {
    const char* name;
    std::vector<int64_t> offsets;
    std::optional<int64_t> usual;
  };
  const std::vector<int64_t> early(TitleLag::kHistory, 2000);
  std::vector<int64_t> moved = early;
  moved.insert(moved.end(), {-5000, -5000, -4000, -5000, -6000});
  const Row rows[] = {
      {"too few", std::vector<int64_t>(TitleLag::kMinCuts - 1, -3000), std::nullopt},
      {"odd count", {-3000, 900000, -3100, -2900, -3050}, -3000},
      {"even count", {-1000, -2000, -3000, -4000}, -2500},
      {"the last ones count", moved, -4000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TitleLag lag;
    for (const int64_t offset : row.offsets) {
      lag.Add(offset);
    }
    EXPECT_EQ(lag.Usual(), row.usual);
  }
}

}  // namespace
