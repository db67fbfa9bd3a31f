// Marking, sorting, counting and the context menu of the message view, and
// the command states the idle operations leave behind.

#include "app/message_view_handlers.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"

namespace kelvrin::test {
namespace {

class ViewHandlersTest : public AppFixture {
 protected:
  // s1 (spam), v2, s3 (spam), v4 in the server; sorted: s1, s3, v2, v4.
  void checkFour() {
    script.AddSession(CheckSession(
        {SpamMessage(1, "a"), ValidMessage(2, "b"), SpamMessage(3, "c"), ValidMessage(4, "d")},
        true));
    check();
  }
  app::MessageViewHandlers& view() { return kv->View(); }
};

TEST_F(ViewHandlersTest, AfterACheckRowsAreByDescendingLevelAndAboveSevenIsMarked) {
  checkFour();
  EXPECT_EQ(levelsInViewOrder(), (std::vector<int>{10, 10, 0, 0}));
  EXPECT_EQ(markedIndexes(), (std::vector<int>{0, 2}));
  EXPECT_EQ(view().VTree1GetText(kv->VTree1.Row(2), app::kColIndex), "1");
  EXPECT_EQ(view().VTree1GetText(kv->VTree1.Row(0), app::kColSpam), "");
}

TEST_F(ViewHandlersTest, SpaceTogglesEverySelectedRow) {
  checkFour();
  kv->VTree1.selectOnly(0);         // marked
  kv->VTree1.setSelected(1, true);  // marked
  kv->VTree1.setSelected(2, true);  // not marked
  EXPECT_TRUE(view().VTree1KeyAction(true));
  EXPECT_FALSE(kv->VTree1.Row(0).Checked);
  EXPECT_FALSE(kv->VTree1.Row(1).Checked);
  EXPECT_TRUE(kv->VTree1.Row(2).Checked);
  EXPECT_FALSE(view().VTree1KeyAction(false)) << "other keys pass";
}

TEST_F(ViewHandlersTest, CheckselectedCountsEveryMarkedRow) {
  checkFour();
  int count = -1;
  EXPECT_TRUE(view().Checkselected(0, true, count));
  EXPECT_EQ(count, 2);
  kv->VTree1.setChecked(0, false);
  kv->VTree1.setChecked(1, false);
  EXPECT_FALSE(view().Checkselected(0, true, count));
  EXPECT_EQ(count, 0);
}

TEST_F(ViewHandlersTest, MarkAllMarksEveryRowAndWithoutRowsHidesItself) {
  checkFour();
  view().MarkAll1Click();
  EXPECT_EQ(markedIndexes().size(), 4u);
  EXPECT_TRUE(kv->Commands.Enabled("BtDelete"));
  kv->VTree1.Clear();
  view().MarkAll1Click();
  EXPECT_FALSE(kv->Commands.Visible("MarkAll1"));
  EXPECT_FALSE(kv->Commands.Visible("N3"));
}

TEST_F(ViewHandlersTest, HeaderClickSortsTogglesAndStoresTheColumn) {
  checkFour();
  view().VTree1HeaderClick(app::kColIndex);
  EXPECT_EQ(markedIndexes(), (std::vector<int>{0, 2}));
  std::vector<int> order;
  for (const auto& row : kv->VTree1.rows())
    order.push_back(row.Node.MsgIndex);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  view().VTree1HeaderClick(app::kColIndex);
  order.clear();
  for (const auto& row : kv->VTree1.rows())
    order.push_back(row.Node.MsgIndex);
  EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 0}));
  EXPECT_EQ(kv->Settings.Column(), app::kColIndex);
}

TEST_F(ViewHandlersTest, DateSortsByItsTextNotItsTime) {
  checkFour();  // the spam is dated "Fri, ..." and the valid mail "Mon, ..."
  view().VTree1HeaderClick(app::kColDate);
  EXPECT_EQ(view().VTree1GetText(kv->VTree1.Row(0), app::kColDate).substr(0, 4), "Fri,");
  EXPECT_EQ(view().VTree1GetText(kv->VTree1.Row(3), app::kColDate).substr(0, 4), "Mon,");
}

TEST_F(ViewHandlersTest, ContextMenuItemsFollowTheColumn) {
  checkFour();
  kv->VTree1.selectOnly(0);
  view().VTree1ColumnClick(app::kColFrom);
  EXPECT_TRUE(kv->Commands.Visible("CopyToBanned1"));
  EXPECT_TRUE(kv->Commands.Visible("CopyToAllowed1"));
  EXPECT_FALSE(kv->Commands.Visible("CopyToBannedSubject1"));
  EXPECT_FALSE(kv->Commands.Visible("AddtoFavourites1")) << "communications tab hidden";
  kv->TabSheet2Visible = true;
  view().VTree1ColumnClick(app::kColFrom);
  EXPECT_TRUE(kv->Commands.Visible("AddtoFavourites1"));
  view().VTree1ColumnClick(app::kColSubject);
  EXPECT_FALSE(kv->Commands.Visible("CopyToBanned1"));
  EXPECT_TRUE(kv->Commands.Visible("CopyToBannedSubject1"));
  EXPECT_FALSE(kv->Commands.Visible("AddtoFavourites1"));
  EXPECT_TRUE(kv->Commands.Visible("QuickReply1"));
}

TEST_F(ViewHandlersTest, CopyToBannedAddsTheAddressAndMarksTwiceGivesTwoEntries) {
  checkFour();
  kv->VTree1.selectOnly(2);  // v2, not marked
  for (int i = 0; i < 2; ++i) {
    kv->VTree1.EditCell(app::kColFrom, "Friend <friend2@example.org>");
    kv->VTree1.setEditorSelection("Friend <friend2@example.org>");
    view().CopyToBanned1Click();
  }
  EXPECT_EQ(kv->lbBanEM->entries(),
            (std::vector<std::string>{"friend2@example.org", "friend2@example.org"}));
  EXPECT_TRUE(kv->VTree1.Row(2).Checked);
  EXPECT_FALSE(kv->VTree1.Editor().Editing) << "the cell edit is cancelled";
}

TEST_F(ViewHandlersTest, CopyToAllowedWithoutSelectionAddsNothingButUnmarks) {
  checkFour();
  kv->VTree1.selectOnly(0);  // marked spam
  kv->VTree1.EditCell(app::kColFrom, "x");
  view().CopyToAllowed1Click();
  EXPECT_EQ(kv->lbAllowEM->Count(), 1) << "only the user's own address";
  EXPECT_FALSE(kv->VTree1.Row(0).Checked);
}

TEST_F(ViewHandlersTest, CopyCommandsDoNothingOutsideTheCellEditor) {
  checkFour();
  kv->VTree1.selectOnly(2);
  view().CopyToBanned1Click();
  view().CopyToBannedSubject1Click();
  EXPECT_EQ(kv->lbBanEM->Count(), 0);
  EXPECT_FALSE(kv->VTree1.Row(2).Checked);
}

TEST_F(ViewHandlersTest, BannedSubjectIsCleanedAndFavouritesHoldAnAddressOnce) {
  checkFour();
  kv->VTree1.selectOnly(2);
  kv->VTree1.EditCell(app::kColSubject, "Re: Lunch 2");
  kv->VTree1.setEditorSelection("Re: Lunch 2");
  view().CopyToBannedSubject1Click();
  EXPECT_EQ(kv->lbBanSubject->entries(), (std::vector<std::string>{"lunch 2"}));
  const int before = kv->Favourites1->Count();
  for (int i = 0; i < 2; ++i) {
    kv->VTree1.EditCell(app::kColFrom, "Friend <friend2@example.org>");
    kv->VTree1.setEditorSelection("Friend <friend2@example.org>");
    view().AddtoFavourites1Click();
  }
  EXPECT_EQ(kv->Favourites1->Count(), before + 1);
  EXPECT_FALSE(kv->VTree1.Row(2).Checked);
}

TEST_F(ViewHandlersTest, ScoringCountsEachMessageOnce) {
  checkFour();
  kv->VTree1.BeginUpdate();
  kv->VTree1.EndUpdate();
  view().VTree1HeaderClick(app::kColFrom);
  EXPECT_EQ(kv->State.ValidCount + kv->State.SuspectCount + kv->State.SpamCount, 4);
}

struct IdleCase {
  const char* name;
  bool rows;
  bool uidl;
  int online;
  bool deleteEnabled;
  bool markAllVisible;
};

class ResetStatusTest : public AppFixture, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(ResetStatusTest, LeavesTheCommandsOfTheIdleWindow) {
  const IdleCase& c = GetParam();
  if (c.rows) {
    script.AddSession(CheckSession({SpamMessage(1, c.uidl ? "a" : "")}, c.uidl));
    check();
  }
  // A state that ResetStatus must change where its rules say so.
  kv->DelButtonEnable(true);
  kv->Commands.setVisible({"MarkAll1", "N3"}, true);
  kv->Commands.setEnabled({"BtCancel", "ToolButton8", "btOpen"}, !true);
  kv->State.CheckInProgress = true;
  kv->State.OnlineState = c.online;
  kv->VTree1.BeginUpdate();
  kv->ResetStatus();
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_EQ(kv->Commands.Enabled("BtDelete"), c.deleteEnabled);
  EXPECT_EQ(kv->Commands.Enabled("DeleteSpam1"), c.deleteEnabled);
  EXPECT_EQ(kv->Commands.Visible("MarkAll1"), c.markAllVisible);
  EXPECT_TRUE(kv->Commands.Enabled("btOpen"));
  EXPECT_TRUE(kv->Commands.Enabled("CheckNow1"));
  EXPECT_FALSE(kv->Commands.Enabled("BtCancel"));
  EXPECT_EQ(kv->VTree1.UpdateCount(), 0) << "the open bracket is closed";
  EXPECT_EQ(kv->dfsStatus.Gauge(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResetStatusTest,
    ::testing::Values(IdleCase{"NoRows", false, true, 1, false, false},
                      IdleCase{"RowsWithoutIds", true, false, 1, false, false},
                      IdleCase{"RowsWithIdsOnlineUnchanged", true, true, 1, true, true},
                      IdleCase{"RowsWithIdsOffline", true, true, 0, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ViewHandlersTest, DelButtonEnableFollowsTheDeleteAllOption) {
  kv->DelButtonEnable(true);
  EXPECT_TRUE(kv->Commands.Enabled("BtDelete"));
  EXPECT_TRUE(kv->Commands.Enabled("ToolButton3"));
  EXPECT_TRUE(kv->Commands.Enabled("DeleteSpam1"));
  EXPECT_FALSE(kv->Commands.Enabled("btDelall1"));
  kv->KVmain->setChecked("DelAll1", true);
  kv->DelButtonEnable(true);
  EXPECT_TRUE(kv->Commands.Enabled("btDelall1"));
  EXPECT_TRUE(kv->Commands.Enabled("ToolButton5"));
  EXPECT_TRUE(kv->Commands.Enabled("DeleteAll1"));
  kv->DelButtonEnable(false);
  for (const char* name :
       {"BtDelete", "ToolButton3", "DeleteSpam1", "btDelall1", "ToolButton5", "DeleteAll1"}) {
    EXPECT_FALSE(kv->Commands.Enabled(name)) << name;
  }
}

TEST_F(ViewHandlersTest, UnknownCommandNameThrows) {
  EXPECT_THROW(kv->Commands.setEnabled("NoSuchButton", true), std::out_of_range);
}

}  // namespace
}  // namespace kelvrin::test
