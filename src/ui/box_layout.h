#pragma once

// Where the parts of the system's boxes go, in pixels. A front end measures
// its image, text and buttons and places them at the rectangles computed
// here, so that every front end lays a box out by the same rules.

#include <cstddef>
#include <vector>

namespace kelvrin::ui {

struct BoxSize {
  int width = 0;
  int height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
  bool operator==(const BoxSize&) const = default;
};

struct BoxRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
  bool operator==(const BoxRect&) const = default;
};

// Margin of a text that has no image beside it, and of the right and bottom
// edges of every box.
inline constexpr int kBoxMargin = 18;
// The lowered frame is drawn this far inside the client area.
inline constexpr int kBoxFrameInset = 3;

struct MessageBoxMetrics {
  BoxSize image;  // empty: no icon or picture
  BoxSize text;
  BoxSize button;                 // every button gets the size of the largest
  std::vector<std::size_t> rows;  // buttons per row, as MessageBoxSpec::rows
};

struct MessageBoxLayout {
  BoxRect image;  // zero when there is no image
  BoxRect text;
  std::vector<BoxRect> buttons;  // in button order, row by row
  BoxSize client;
  BoxRect frame;
};

MessageBoxLayout layoutMessageBox(const MessageBoxMetrics& m);

struct InputDialogMetrics {
  BoxSize image;
  std::vector<BoxSize> prompts;  // one label per field
  int editWidth = 170;
  int editHeight = 0;
  std::vector<BoxSize> checkBoxes;
  BoxSize button;  // OK and Cancel
};

struct InputDialogLayout {
  BoxRect image;
  std::vector<BoxRect> prompts;
  std::vector<BoxRect> edits;
  std::vector<BoxRect> checkBoxes;
  BoxRect ok;
  BoxRect cancel;
  BoxSize client;
};

InputDialogLayout layoutInputDialog(const InputDialogMetrics& m);

// Elements of the progress box stand this far apart and from the left edge.
inline constexpr int kProgressSpacing = 20;
inline constexpr int kProgressGaugeHeight = 20;

struct ProgressBoxMetrics {
  BoxSize image;
  BoxSize text;
  bool gauge = false;
  bool cancelButton = false;
  BoxSize button;
  int width = 0;   // > 0 overrides the computed client width
  int height = 0;  // > 0 overrides the computed client height
};

struct ProgressBoxLayout {
  BoxRect image;
  BoxRect text;
  BoxRect gauge;
  BoxRect cancel;
  BoxSize client;
};

ProgressBoxLayout layoutProgressBox(const ProgressBoxMetrics& m);

}  // namespace kelvrin::ui
