#include "app/level_bar.h"

#include <gtest/gtest.h>

namespace kelvrin::app {
namespace {

struct BarCase {
  int level;
  int cellWidth;
  int barWidth;
};

class LevelBarWidthTest : public ::testing::TestWithParam<BarCase> {};

// W = cell width − 40; the inside of the frame is W − 6; the bar is
// Round(W × level × 10 / 100) (level 0 counts as 1 %), halves to even, at most
// the inside.
TEST_P(LevelBarWidthTest, BarWidthFollowsLevelAndCellWidth) {
  const BarCase& c = GetParam();
  LevelBar bar = levelBar(c.level, c.cellWidth);
  EXPECT_EQ(bar.BarWidth, c.barWidth);
  EXPECT_EQ(bar.Colours.size(), static_cast<std::size_t>(c.barWidth));
}

INSTANTIATE_TEST_SUITE_P(Table, LevelBarWidthTest,
                         ::testing::Values(BarCase{0, 150, 1},     // 110 × 1 % = 1.1
                                           BarCase{0, 90, 0},      // 50 × 1 % = 0.5 → 0
                                           BarCase{0, 190, 2},     // 150 × 1 % = 1.5 → 2
                                           BarCase{5, 150, 55},    // 110 × 50 %
                                           BarCase{3, 145, 32},    // 105 × 30 % = 31.5 → 32
                                           BarCase{1, 145, 10},    // 10.5 → 10
                                           BarCase{7, 150, 77},    // 110 × 70 %
                                           BarCase{10, 150, 104},  // the whole inside
                                           BarCase{9, 150, 99},    // 99 ≤ 104
                                           BarCase{10, 40, 0},     // no room
                                           BarCase{10, 20, 0},     // narrower than the box
                                           BarCase{-1, 150, 0}));

TEST(LevelBar, ColourDependsOnlyOnTheDistanceFromTheInnerRightEdge) {
  LevelBar full = levelBar(10, 150);
  LevelBar half = levelBar(5, 150);
  ASSERT_EQ(full.InnerWidth, 104);
  // The rightmost column of the inside is plain green.
  EXPECT_EQ(full.Colours.back(), 0x008000u);
  EXPECT_EQ(full.Colours.front(), 0x008000u + 255u * 103u);
  for (int x = 0; x < half.BarWidth; ++x) {
    EXPECT_EQ(half.Colours[static_cast<std::size_t>(x)], full.Colours[static_cast<std::size_t>(x)]);
  }
}

TEST(LevelBar, FrameSitsRightOfTheCheckBox) {
  LevelBar bar = levelBar(4, 150);
  EXPECT_EQ(bar.FrameLeft, 41);
  EXPECT_EQ(bar.FrameWidth, 108);
  EXPECT_EQ(bar.InnerLeft, 43);
}

TEST(VTree1BeforeCellPaint, ClampsAStoredLevelAbove10) {
  std::int32_t level = 14;
  LevelBar bar = VTree1BeforeCellPaint(level, 150);
  EXPECT_EQ(level, 10);
  EXPECT_EQ(bar.BarWidth, bar.InnerWidth);
  std::int32_t low = 3;
  VTree1BeforeCellPaint(low, 150);
  EXPECT_EQ(low, 3);
}

}  // namespace
}  // namespace kelvrin::app
