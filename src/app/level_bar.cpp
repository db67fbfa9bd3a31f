#include "app/level_bar.h"

#include <algorithm>

namespace kelvrin::app {

namespace {

constexpr std::uint32_t kGreen = 0x008000;
constexpr int kEdge = 2;  // a sunken edge is two pixels wide

// Round(numerator / 100) for a non-negative numerator, halves to even.
std::int64_t roundPercent(std::int64_t numerator) {
  std::int64_t q = numerator / 100;
  const std::int64_t r = numerator % 100;
  if (r > 50 || (r == 50 && (q % 2) != 0)) ++q;
  return q;
}

}  // namespace

LevelBar levelBar(std::int32_t spamLevel, int cellWidth) {
  LevelBar bar;
  const int w = cellWidth - kLevelBarCheckBoxSpace;
  bar.FrameLeft = kLevelBarCheckBoxSpace + 1;
  bar.FrameWidth = std::max(0, w - 2);
  bar.InnerLeft = bar.FrameLeft + kEdge;
  bar.InnerWidth = std::max(0, w - 2 - 2 * kEdge);

  const std::int64_t percent = spamLevel == 0 ? 1 : static_cast<std::int64_t>(spamLevel) * 10;
  std::int64_t width = 0;
  if (w > 0 && percent > 0) width = roundPercent(static_cast<std::int64_t>(w) * percent);
  bar.BarWidth = static_cast<int>(std::clamp<std::int64_t>(width, 0, bar.InnerWidth));

  // The painter fills ever narrower rectangles from the left, adding 255 to
  // the colour at each step, so a column's colour depends only on its
  // distance from the inner right edge.
  bar.Colours.reserve(static_cast<std::size_t>(bar.BarWidth));
  for (int x = 0; x < bar.BarWidth; ++x) {
    const auto steps = static_cast<std::uint32_t>(bar.InnerWidth - x - 1);
    bar.Colours.push_back((kGreen + 255u * steps) & 0xFFFFFFu);
  }
  return bar;
}

LevelBar VTree1BeforeCellPaint(std::int32_t& SpamLevel, int cellWidth) {
  if (SpamLevel > 10) SpamLevel = 10;
  return levelBar(SpamLevel, cellWidth);
}

}  // namespace kelvrin::app
