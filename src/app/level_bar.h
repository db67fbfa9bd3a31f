#pragma once

// The spam-level bar of the Spam% column as data, so that the GUI only paints
// it: the frame, the bar's width and the colour of every pixel column.

#include <cstdint>
#include <vector>

namespace kelvrin::app {

// The cell's left edge moves this far right so the check box stays visible.
inline constexpr int kLevelBarCheckBoxSpace = 40;

struct LevelBar {
  // The frame: a sunken edge drawn around the cell rectangle (after the left
  // edge moved right) shrunk by one pixel on every side; the edge is two
  // pixels wide. Offsets are from the cell's left edge.
  int FrameLeft = 0;
  int FrameWidth = 0;
  // The inside of the frame, where the bar is drawn from the left.
  int InnerLeft = 0;
  int InnerWidth = 0;
  // The bar's width in pixels, 0..InnerWidth.
  int BarWidth = 0;
  // The colour of each pixel column of the bar, left to right, as a 24-bit
  // value with red in the low byte, green in the middle and blue in the high
  // byte. Column x is green (0x008000) plus 255 × (InnerWidth − x − 1).
  std::vector<std::uint32_t> Colours;
};

// Clamps a level above 10 to 10 (the row keeps the clamped value) and returns
// the bar of that level for a cell of the given width.
LevelBar VTree1BeforeCellPaint(std::int32_t& SpamLevel, int cellWidth);

// The bar alone, for a level already in range.
LevelBar levelBar(std::int32_t spamLevel, int cellWidth);

inline std::uint8_t redOf(std::uint32_t colour) {
  return colour & 0xFF;
}
inline std::uint8_t greenOf(std::uint32_t colour) {
  return (colour >> 8) & 0xFF;
}
inline std::uint8_t blueOf(std::uint32_t colour) {
  return (colour >> 16) & 0xFF;
}

}  // namespace kelvrin::app
