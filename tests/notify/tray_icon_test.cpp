#include "notify/tray_icon.h"

#include <gtest/gtest.h>

#include <string>

#include "notify/hint_display.h"

namespace kelvrin::notify {
namespace {

struct TrayCase {
  const char* name;
  int state;
  int picture;
  int list;
  int index;
  bool cycling;
  int interval;
};

class TrayIconDisplayTest : public ::testing::TestWithParam<TrayCase> {};

TEST_P(TrayIconDisplayTest, ShowsTheListPictureAndCycleOfTheState) {
  const TrayCase& c = GetParam();
  TrayIconModel tray;
  // Start from somewhere else so that every field has to be set.
  tray.setIconList(8);
  tray.setIconIndex(3);
  tray.setCycleInterval(999);
  TrayIconDisplay(tray, static_cast<std::uint16_t>(c.state), static_cast<std::uint16_t>(c.picture));
  EXPECT_EQ(tray.IconList(), c.list);
  EXPECT_EQ(tray.IconIndex(), c.index);
  EXPECT_EQ(tray.CycleIcons(), c.cycling);
  EXPECT_EQ(tray.CycleInterval(), c.interval);
}

// The tray icon redraws on every change; a state shown in several steps would
// flash the pictures in between.
TEST_P(TrayIconDisplayTest, ReportsExactlyOneChange) {
  const TrayCase& c = GetParam();
  TrayIconModel tray;
  tray.setIconList(8);
  int calls = 0;
  tray.changed().add([&] { ++calls; });
  TrayIconDisplay(tray, static_cast<std::uint16_t>(c.state), static_cast<std::uint16_t>(c.picture));
  EXPECT_EQ(calls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    States, TrayIconDisplayTest,
    ::testing::Values(TrayCase{"IdleOnline", 0, 0, 0, 0, false, 800},
                      TrayCase{"IdleOffline", 0, 1, 0, 1, false, 800},
                      TrayCase{"IdleTimedChecksOff", 0, 2, 0, 2, false, 800},
                      TrayCase{"IdleUnknownPictureKeepsFirst", 0, 3, 0, 0, false, 800},
                      TrayCase{"Checking", 1, 0, 1, 0, true, 150},
                      TrayCase{"NewValidMail", 2, 0, 2, 0, true, 800},
                      TrayCase{"Suspect", 3, 1, 3, 0, true, 800},
                      TrayCase{"SuspectAndSpam", 4, 0, 4, 0, true, 800},
                      TrayCase{"SpamOnly", 5, 0, 5, 0, true, 800},
                      TrayCase{"Dialling", 6, 0, 6, 0, true, 150},
                      TrayCase{"CountdownFirst", 7, 1, 7, 0, false, 800},
                      TrayCase{"CountdownFourth", 7, 4, 7, 3, false, 800},
                      TrayCase{"CountdownAboveFourShowsLast", 7, 8, 7, 3, false, 800},
                      TrayCase{"CountdownZeroShowsFirst", 7, 0, 7, 0, false, 800},
                      TrayCase{"CountdownNineShowsFirst", 7, 9, 7, 0, false, 800},
                      TrayCase{"Deleting", 8, 0, 8, 0, true, 250}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrayIconDisplay, UnknownStateKeepsTheCurrentListCyclingAt800) {
  TrayIconModel tray;
  TrayIconDisplay(tray, 1, 0);
  TrayIconDisplay(tray, 9, 0);
  EXPECT_EQ(tray.IconList(), 1);
  EXPECT_TRUE(tray.CycleIcons());
  EXPECT_EQ(tray.CycleInterval(), 800);
}

TEST(TrayIconModel, CyclingWrapsToTheFirstPicture) {
  TrayIconModel tray;
  TrayIconDisplay(tray, 4, 0);  // three pictures
  tray.advanceCycle();
  tray.advanceCycle();
  EXPECT_EQ(tray.IconIndex(), 2);
  tray.advanceCycle();
  EXPECT_EQ(tray.IconIndex(), 0);
}

TEST(TrayIconModel, StillIconDoesNotAdvance) {
  TrayIconModel tray;
  TrayIconDisplay(tray, 0, 1);
  tray.advanceCycle();
  EXPECT_EQ(tray.IconIndex(), 1);
}

TEST(TrayIconModel, CutsNeverSplitACharacter) {
  TrayIconModel tray;
  std::string text(254, 'x');
  text += "\xC3\xA9\xC3\xA9";  // a two-byte character across the 255th byte
  tray.ShowBalloon("t", text, BalloonIcon::Info, 20);
  EXPECT_EQ(tray.LastBalloon()->Text, std::string(254, 'x'));
  tray.setHint(std::string(125, 'y') + "\xE2\x82\xAC");  // a three-byte character
  EXPECT_EQ(tray.Hint(), std::string(125, 'y'));
  tray.setHint(std::string(124, 'y') + "\xE2\x82\xAC");
  EXPECT_EQ(tray.Hint(), std::string(124, 'y') + "\xE2\x82\xAC");
}

TEST(TrayIconModel, HintIsCutTo127Characters) {
  TrayIconModel tray;
  tray.setHint(std::string(200, 'h'));
  EXPECT_EQ(tray.Hint().size(), 127u);
}

TEST(TrayIconModel, BalloonCutsTitleAndTextAndRepeatShowsTheLastOneAgain) {
  TrayIconModel tray;
  tray.ShowBalloon("", "", BalloonIcon::None, 5, true);
  EXPECT_FALSE(tray.BalloonVisible()) << "nothing to repeat yet";
  tray.ShowBalloon(std::string(70, 't'), std::string(300, 'x'), BalloonIcon::Info, 20);
  ASSERT_TRUE(tray.LastBalloon().has_value());
  EXPECT_EQ(tray.LastBalloon()->Title.size(), 63u);
  EXPECT_EQ(tray.LastBalloon()->Text.size(), 255u);
  tray.ShowBalloon("other", "other", BalloonIcon::Error, 1, true);
  EXPECT_EQ(tray.LastBalloon()->IconKind, BalloonIcon::Info);
  EXPECT_EQ(tray.BalloonShowCount(), 2);
  EXPECT_TRUE(tray.BalloonVisible());
}

TEST(TrayIconModel, ObserversHearEveryChange) {
  TrayIconModel tray;
  int calls = 0;
  tray.changed().add([&] { ++calls; });
  TrayIconDisplay(tray, 2, 0);
  EXPECT_GT(calls, 0);
}

}  // namespace
}  // namespace kelvrin::notify

namespace kelvrin::notify {
namespace {

TEST(HintHidePause, TenthOfASecondPerCharacterAtLeastTwoAndAHalf) {
  EXPECT_EQ(HintHidePause(""), 2500);
  EXPECT_EQ(HintHidePause("0123456789"), 2500);
  EXPECT_EQ(HintHidePause(std::string(26, 'h')), 2600);
  EXPECT_EQ(HintHidePause(std::string(40, 'h')), 4000);
  std::string accented;
  for (int i = 0; i < 30; ++i)
    accented += "\xC3\xA9";
  EXPECT_EQ(HintHidePause(accented), 3000) << "characters, not bytes";
}

}  // namespace
}  // namespace kelvrin::notify
