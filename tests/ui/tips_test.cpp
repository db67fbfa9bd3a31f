#include "ui/tips.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "settings/form.h"
#include "settings/forms.h"

namespace kelvrin::ui {
namespace {

// Picks the scripted indexes in turn.
TipPicker scripted(std::deque<std::size_t> picks) {
  auto queue = std::make_shared<std::deque<std::size_t>>(std::move(picks));
  return [queue](std::size_t count) {
    EXPECT_FALSE(queue->empty()) << "more picks than scripted";
    if (queue->empty()) return std::size_t{0};
    const std::size_t next = queue->front();
    queue->pop_front();
    EXPECT_LT(next, count);
    return next;
  };
}

TEST(Tips, TheListHoldsThirtyNineTipsWithTheAddressesFilledIn) {
  const TTips tips;
  ASSERT_EQ(tips.TipsCount(), 39);
  EXPECT_EQ(tips.Tips.front(), "These Tips can be turned on/off from Menu options: Help/Show Tips");
  EXPECT_EQ(tips.Tips[21],
            "If you have any problems please contact support@kelvrin.example and/or send bug "
            "reports.");
  EXPECT_EQ(tips.Tips[22],
            "If you have any suggestions for improvements, please lets know at "
            "info@kelvrin.example");
  EXPECT_EQ(tips.Tips[34],
            "For lots of spam if your server has spam filtering option, enable its spam");
  EXPECT_EQ(tips.Tips.back(), "working on.");
}

TEST(Tips, TheCheckBoxNamesTheProgramWhenItHasAName) {
  TTips tips;
  EXPECT_EQ(tips.dialogSpec().showAtStartCaption, "&Show this dialog on next Start of Kelvrin");
  tips.AppName.clear();
  EXPECT_EQ(tips.dialogSpec().showAtStartCaption, "&Show this dialog on next Start");
  tips.ShowAtStart = false;
  EXPECT_TRUE(tips.dialogSpec().showAtStartChecked) << "the check box always starts checked";
}

TEST(TipSequence, AnEmptyListShowsTheOneNoTipsEntryAndOffersNoNext) {
  TipSequence sequence({}, scripted({}));
  EXPECT_EQ(sequence.current(), "No tips available !");
  EXPECT_FALSE(sequence.canNext());
  sequence.Next();
  EXPECT_EQ(sequence.current(), "No tips available !");
}

TEST(TipSequence, ASingleTipOffersNoNext) {
  TipSequence sequence({"only"}, scripted({}));
  EXPECT_EQ(sequence.current(), "only");
  EXPECT_FALSE(sequence.canNext());
}

TEST(TipSequence, NextMayShowTheTipAlreadyShownAndBackReturnsThroughTheShownTips) {
  TipSequence sequence({"a", "b", "c"}, scripted({1, 1, 2, 0}));
  EXPECT_EQ(sequence.current(), "b");
  EXPECT_FALSE(sequence.canBack());
  sequence.Next();
  EXPECT_EQ(sequence.current(), "b");  // the same tip may come again
  sequence.Next();
  EXPECT_EQ(sequence.current(), "c");
  sequence.Back();
  sequence.Back();
  EXPECT_EQ(sequence.current(), "b");
  EXPECT_FALSE(sequence.canBack());
  sequence.Next();  // a new pick, the tips that were ahead are forgotten
  EXPECT_EQ(sequence.current(), "a");
  sequence.Back();
  EXPECT_EQ(sequence.current(), "b");
}

TEST(TipSequence, TheClockSeededPickerStaysInRangeAndReachesEveryTip) {
  const TipPicker pick = clockSeededTipPicker();
  std::set<std::size_t> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::size_t k = pick(5);
    ASSERT_LT(k, 5u);
    seen.insert(k);
  }
  EXPECT_EQ(seen.size(), 5u);
}

struct OptionCase {
  const char* label;
  bool startUp;        // at start-up, else the menu option
  bool checkedBefore;  // ShowTips1 before
  bool tickedOnClose;  // the dialog's check box when it is closed
  bool dialogShown;
  bool checkedAfter;
};

class ShowTipsOption : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ShowTipsOption, TheDialogOpensWhenTheOptionIsOnAndItsCheckBoxDecidesTheOption) {
  const OptionCase& c = GetParam();
  auto KVmain = settings::makeKVmainForm();
  KVmain->setChecked("ShowTips1", c.checkedBefore);
  TTips tips;
  int shown = 0;
  tips.showDialog = [&](const TipsDialogSpec& spec) {
    ++shown;
    EXPECT_TRUE(spec.showAtStartChecked);
    return TipsDialogResult{true, c.tickedOnClose};
  };
  if (c.startUp) {
    ShowTipsAtStart(*KVmain, tips);
  } else {
    ShowTips1Click(*KVmain, tips);
  }
  EXPECT_EQ(shown, c.dialogShown ? 1 : 0);
  EXPECT_EQ(KVmain->checked("ShowTips1"), c.checkedAfter);
  EXPECT_EQ(tips.ShowAtStart, c.checkedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShowTipsOption,
    ::testing::Values(
        OptionCase{"StartUpKeepsTicked", true, true, true, true, true},
        OptionCase{"StartUpUntickedTurnsTheOptionOff", true, true, false, true, false},
        OptionCase{"StartUpWithTheOptionOffShowsNothing", true, false, true, false, false},
        OptionCase{"MenuOnShowsATipAtOnce", false, false, true, true, true},
        OptionCase{"MenuOnThenUntickedTurnsItOffAgain", false, false, false, true, false},
        OptionCase{"MenuOffShowsNothing", false, true, true, false, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Tips, ExecuteWithoutAFrontEndShowsNothingAndKeepsTheSetting) {
  TTips tips;
  tips.ShowAtStart = false;
  EXPECT_FALSE(tips.Execute());
  EXPECT_FALSE(tips.ShowAtStart);
}

}  // namespace
}  // namespace kelvrin::ui
