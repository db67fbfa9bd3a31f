#include "ui/box_layout.h"

#include <algorithm>

namespace kelvrin::ui {

namespace {

// An image sits half its own size (+ 2) from the top left corner; a small
// one (a 16-pixel icon) would hug the corner, so it moves 8 pixels further in.
BoxRect placeImage(BoxSize image) {
  if (image.empty()) return {};
  BoxRect r{image.width / 2 + 2, image.height / 2 + 2, image.width, image.height};
  if (image.width <= 16 && image.height <= 16) {
    r.left += 8;
    r.top += 8;
  }
  return r;
}

// The left edge of whatever stands beside the image: half an image width
// to its right, or the plain margin without one.
int contentLeft(const BoxRect& image) {
  return image.width > 0 ? image.right() + image.width / 2 : kBoxMargin;
}

int contentTop(const BoxRect& image) {
  return image.width > 0 ? image.top : kBoxMargin;
}

int rowWidth(std::size_t buttons, int buttonWidth, int gap) {
  if (buttons == 0) return 0;
  const int n = static_cast<int>(buttons);
  return n * buttonWidth + (n - 1) * gap;
}

// Rows of buttons from `top`; the first row is centred on a block that is
// wider than it, and every further row starts where the first one starts.
// Returns the right edge of the widest row.
int placeRows(const std::vector<std::size_t>& rows, BoxSize button, int blockLeft, int blockWidth,
              int top, std::vector<BoxRect>& out, int& bottom) {
  const int gap = button.height / 2;
  int left = blockLeft;
  if (!rows.empty()) {
    const int first = rowWidth(rows.front(), button.width, gap);
    if (blockWidth > first) left += (blockWidth - first) / 2;
  }
  int right = left;
  int y = top;
  bottom = top;
  for (std::size_t count : rows) {
    int x = left;
    for (std::size_t i = 0; i < count; ++i) {
      out.push_back(BoxRect{x, y, button.width, button.height});
      x += button.width + gap;
    }
    right = std::max(right, left + rowWidth(count, button.width, gap));
    bottom = y + button.height;
    y += button.height + gap;
  }
  return right;
}

}  // namespace

MessageBoxLayout layoutMessageBox(const MessageBoxMetrics& m) {
  MessageBoxLayout l;
  l.image = placeImage(m.image);
  l.text = BoxRect{contentLeft(l.image), contentTop(l.image), m.text.width, m.text.height};
  // A text lower than its image is centred on it.
  if (l.image.height > 0 && m.text.height < l.image.height) {
    l.text.top = l.image.top + (l.image.height - m.text.height) / 2;
  }
  const int above = std::max(l.text.bottom(), l.image.bottom());
  int rowsBottom = above;
  const int rowsRight = placeRows(m.rows, m.button, l.text.left, l.text.width,
                                  above + m.button.height / 2, l.buttons, rowsBottom);
  l.client.width = std::max(rowsRight, l.text.right()) + kBoxMargin;
  l.client.height = std::max(rowsBottom, above) + kBoxMargin;
  l.frame = BoxRect{kBoxFrameInset, kBoxFrameInset, l.client.width - 2 * kBoxFrameInset,
                    l.client.height - 2 * kBoxFrameInset};
  return l;
}

InputDialogLayout layoutInputDialog(const InputDialogMetrics& m) {
  InputDialogLayout l;
  l.image = placeImage(m.image);
  const int left = contentLeft(l.image);
  int y = contentTop(l.image);
  int right = left + m.editWidth;
  int bottom = std::max(y, l.image.bottom());
  for (std::size_t i = 0; i < m.prompts.size(); ++i) {
    const BoxSize p = m.prompts[i];
    l.prompts.push_back(BoxRect{left, y, p.width, p.height});
    const BoxRect edit{left, y + p.height + 2, m.editWidth, m.editHeight};
    l.edits.push_back(edit);
    right = std::max(right, left + p.width);
    bottom = std::max(bottom, edit.bottom());
    // The next prompt starts 1.6 field heights below this field.
    y = edit.top + (m.editHeight * 16 + 9) / 10;
  }
  int cy = bottom + m.editHeight / 2;
  for (const BoxSize c : m.checkBoxes) {
    l.checkBoxes.push_back(BoxRect{left, cy, c.width, c.height});
    right = std::max(right, left + c.width);
    bottom = cy + c.height;
    cy += c.height + 4;
  }
  std::vector<BoxRect> buttons;
  int rowsBottom = bottom;
  const int rowsRight = placeRows({2}, m.button, left, right - left, bottom + m.button.height / 2,
                                  buttons, rowsBottom);
  l.ok = buttons[0];
  l.cancel = buttons[1];
  l.client.width = std::max(rowsRight, right) + kBoxMargin;
  l.client.height = rowsBottom + kBoxMargin;
  return l;
}

ProgressBoxLayout layoutProgressBox(const ProgressBoxMetrics& m) {
  ProgressBoxLayout l;
  int y = kProgressSpacing;
  int widest = std::max(m.text.width, m.image.empty() ? 0 : m.image.width);
  if (m.cancelButton) widest = std::max(widest, m.button.width);
  if (!m.image.empty()) {
    l.image = BoxRect{kProgressSpacing, y, m.image.width, m.image.height};
    y = l.image.bottom() + kProgressSpacing;
  }
  l.text = BoxRect{kProgressSpacing, y, m.text.width, m.text.height};
  y = l.text.bottom() + kProgressSpacing;
  if (m.gauge) {
    l.gauge = BoxRect{kProgressSpacing, y, widest, kProgressGaugeHeight};
    y = l.gauge.bottom() + kProgressSpacing;
  }
  l.client.width = m.width > 0 ? m.width : widest + 2 * kProgressSpacing;
  if (m.cancelButton) {
    l.cancel = BoxRect{(l.client.width - m.button.width) / 2, y, m.button.width, m.button.height};
    y = l.cancel.bottom() + kProgressSpacing;
  }
  l.client.height = m.height > 0 ? m.height : y;
  return l;
}

}  // namespace kelvrin::ui
