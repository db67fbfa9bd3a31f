#include "ui/box_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvrin::ui {
namespace {

bool overlaps(const BoxRect& a, const BoxRect& b) {
  return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

bool inside(const BoxRect& r, BoxSize client) {
  return r.left >= 0 && r.top >= 0 && r.right() <= client.width && r.bottom() <= client.height;
}

struct ImageCase {
  const char* label;
  BoxSize image;
  BoxRect expectedImage;
  int expectedTextLeft;
};

class MessageBoxImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(MessageBoxImage, SitsHalfItsSizeFromTheCornerAndTheTextHalfAWidthBeside) {
  const ImageCase& c = GetParam();
  const auto l = layoutMessageBox({c.image, {200, 20}, {75, 24}, {1}});
  EXPECT_EQ(l.image, c.expectedImage);
  EXPECT_EQ(l.text.left, c.expectedTextLeft);
}

INSTANTIATE_TEST_SUITE_P(Images, MessageBoxImage,
                         ::testing::Values(
                             // 32 / 2 + 2 = 18 from the corner; text at 18 + 32 + 16.
                             ImageCase{"Icon32", {32, 32}, {18, 18, 32, 32}, 66},
                             // 16 pixels or less: 8 further in, so 16 / 2 + 2 + 8.
                             ImageCase{"Icon16", {16, 16}, {18, 18, 16, 16}, 42},
                             ImageCase{"Picture48x40", {48, 40}, {26, 22, 48, 40}, 98},
                             ImageCase{"NoImage", {0, 0}, {0, 0, 0, 0}, 18}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(MessageBoxLayout, ATextLowerThanItsImageIsCentredOnIt) {
  const auto low = layoutMessageBox({{32, 32}, {100, 12}, {75, 24}, {1}});
  EXPECT_EQ(low.text.top, 18 + (32 - 12) / 2);
  const auto tall = layoutMessageBox({{32, 32}, {100, 60}, {75, 24}, {1}});
  EXPECT_EQ(tall.text.top, 18);
}

TEST(MessageBoxLayout, RowsStartHalfAButtonBelowAndFurtherRowsStartWhereTheFirstDoes) {
  // Five buttons: a row of three and one of two.
  const auto l = layoutMessageBox({{}, {60, 20}, {80, 24}, {3, 2}});
  ASSERT_EQ(l.buttons.size(), 5u);
  EXPECT_EQ(l.buttons[0].top, 18 + 20 + 12);
  EXPECT_EQ(l.buttons[1].left - l.buttons[0].right(), 12);  // half a button height apart
  EXPECT_EQ(l.buttons[0].top, l.buttons[2].top);
  EXPECT_EQ(l.buttons[3].left, l.buttons[0].left);
  EXPECT_EQ(l.buttons[3].top, l.buttons[0].bottom() + 12);
  for (std::size_t i = 0; i < l.buttons.size(); ++i) {
    EXPECT_TRUE(inside(l.buttons[i], l.client)) << i;
    for (std::size_t j = i + 1; j < l.buttons.size(); ++j)
      EXPECT_FALSE(overlaps(l.buttons[i], l.buttons[j])) << i << "," << j;
  }
}

TEST(MessageBoxLayout, TheFirstRowIsCentredUnderAWiderText) {
  const auto l = layoutMessageBox({{32, 32}, {400, 20}, {75, 24}, {2}});
  const int rowWidth = 2 * 75 + 12;
  EXPECT_EQ(l.buttons[0].left, l.text.left + (400 - rowWidth) / 2);
  EXPECT_EQ(l.client.width, l.text.right() + kBoxMargin);
}

TEST(MessageBoxLayout, TheBoxIsAsWideAsItsWidestRowWhenTheTextIsNarrower) {
  const auto l = layoutMessageBox({{}, {30, 14}, {75, 24}, {3}});
  EXPECT_EQ(l.buttons[0].left, l.text.left);
  EXPECT_EQ(l.client.width, l.buttons[2].right() + kBoxMargin);
  EXPECT_EQ(l.client.height, l.buttons[2].bottom() + kBoxMargin);
  EXPECT_EQ(l.frame, (BoxRect{3, 3, l.client.width - 6, l.client.height - 6}));
}

TEST(InputDialogLayout, TheNextPromptStandsOnePointSixFieldHeightsBelowAField) {
  InputDialogMetrics m;
  m.prompts = {{80, 14}, {90, 14}};
  m.editWidth = 170;
  m.editHeight = 25;
  m.checkBoxes = {{120, 18}};
  m.button = {75, 24};
  const auto l = layoutInputDialog(m);
  ASSERT_EQ(l.edits.size(), 2u);
  EXPECT_EQ(l.edits[0].top, l.prompts[0].bottom() + 2);
  EXPECT_EQ(l.prompts[1].top, l.edits[0].top + 40);  // 1.6 x 25
  EXPECT_EQ(l.edits[1].width, 170);
  EXPECT_GT(l.checkBoxes[0].top, l.edits[1].bottom());
  EXPECT_GT(l.ok.top, l.checkBoxes[0].bottom());
  EXPECT_EQ(l.ok.top, l.cancel.top);
  EXPECT_LT(l.ok.right(), l.cancel.left);
  for (const BoxRect& r : {l.prompts[0], l.edits[1], l.checkBoxes[0], l.ok, l.cancel})
    EXPECT_TRUE(inside(r, l.client));
}

TEST(ProgressBoxLayout, ElementsStandTwentyApartWithAGaugeAsWideAsTheWidest) {
  ProgressBoxMetrics m;
  m.text = {180, 30};
  m.gauge = true;
  m.cancelButton = true;
  m.button = {75, 24};
  const auto l = layoutProgressBox(m);
  EXPECT_EQ(l.text, (BoxRect{20, 20, 180, 30}));
  EXPECT_EQ(l.gauge, (BoxRect{20, 70, 180, 20}));
  EXPECT_EQ(l.cancel.top, 110);
  EXPECT_EQ(l.cancel.left, (l.client.width - 75) / 2);
  EXPECT_EQ(l.client, (BoxSize{220, 154}));
}

TEST(ProgressBoxLayout, GivenWidthAndHeightOverrideTheClientSize) {
  ProgressBoxMetrics m;
  m.text = {100, 20};
  m.cancelButton = true;
  m.button = {75, 24};
  m.width = 300;
  m.height = 200;
  const auto l = layoutProgressBox(m);
  EXPECT_EQ(l.client, (BoxSize{300, 200}));
  EXPECT_EQ(l.cancel.left, (300 - 75) / 2);  // centred in the given width
  EXPECT_EQ(l.gauge, BoxRect{});
}

}  // namespace
}  // namespace kelvrin::ui
