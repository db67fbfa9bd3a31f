#include "app/message_view.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvrin::app {
namespace {

// A view whose initialisation gives row i the level levels[i] and whose
// comparison is by level (column 0) or by index (column 5).
class MessageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.OnInitNode = [this](ViewRow& row, std::size_t index) {
      row.Node.MsgIndex = static_cast<std::int32_t>(index);
      row.Node.SpamLevel = levels.at(index);
      initialised.push_back(index);
    };
    view.OnCompareNodes = [](const ViewRow& a, const ViewRow& b, int column) {
      if (column == kColSpam) return a.Node.SpamLevel - b.Node.SpamLevel;
      if (column == kColIndex) return a.Node.MsgIndex - b.Node.MsgIndex;
      return 0;
    };
  }

  void fill(std::vector<int> lv) {
    levels = std::move(lv);
    view.BeginUpdate();
    view.setRootNodeCount(levels.size());
    view.EndUpdate();
  }

  std::vector<int> order() const {
    std::vector<int> result;
    for (const auto& row : view.rows())
      result.push_back(row.Node.MsgIndex);
    return result;
  }

  MessageViewModel view;
  std::vector<int> levels;
  std::vector<std::size_t> initialised;
};

TEST_F(MessageViewTest, EndingTheOutermostUpdateInitialisesEveryRowInOrderThenSorts) {
  levels = {3, 9, 0};
  view.BeginUpdate();
  view.BeginUpdate();
  view.setRootNodeCount(3);
  view.EndUpdate();
  EXPECT_TRUE(initialised.empty()) << "an inner end initialises nothing";
  view.EndUpdate();
  EXPECT_EQ(initialised, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(order(), (std::vector<int>{1, 0, 2}));  // descending by level
}

TEST_F(MessageViewTest, EndingWithoutAnOpenUpdateDoesNothing) {
  fill({1, 2});
  initialised.clear();
  view.setSortDirection(SortDirection::Ascending);
  view.EndUpdate();
  EXPECT_TRUE(initialised.empty());
  EXPECT_EQ(order(), (std::vector<int>{1, 0})) << "no sort either";
  EXPECT_EQ(view.UpdateCount(), 0);
}

TEST_F(MessageViewTest, RowsAreInitialisedOncePerFill) {
  fill({5, 5});
  view.BeginUpdate();
  view.EndUpdate();
  EXPECT_EQ(initialised.size(), 2u);
}

TEST_F(MessageViewTest, EqualKeysKeepTheirOrderInBothDirections) {
  fill({4, 7, 4, 7, 4});
  EXPECT_EQ(order(), (std::vector<int>{1, 3, 0, 2, 4}));
  view.setSortDirection(SortDirection::Ascending);
  view.Sort();
  EXPECT_EQ(order(), (std::vector<int>{0, 2, 4, 1, 3}));
}

TEST_F(MessageViewTest, FocusFollowsItsRowThroughSorting) {
  fill({1, 2, 3});
  // Row 2 (level 1, message 0) is focused.
  view.setFocusedRow(2);
  ASSERT_EQ(view.Row(2).Node.MsgIndex, 0);
  view.setSortDirection(SortDirection::Ascending);
  view.Sort();
  ASSERT_TRUE(view.FocusedRow().has_value());
  EXPECT_EQ(view.Row(*view.FocusedRow()).Node.MsgIndex, 0);
  EXPECT_EQ(*view.FocusedRow(), 0u);
}

TEST_F(MessageViewTest, ClearRemovesRowsFocusAndEditor) {
  fill({1, 2});
  view.setFocusedRow(0);
  view.EditCell(kColFrom, "a@b");
  view.Clear();
  EXPECT_EQ(view.RootNodeCount(), 0u);
  EXPECT_FALSE(view.FocusedRow().has_value());
  EXPECT_FALSE(view.Editor().Editing);
}

TEST_F(MessageViewTest, CheckedChangeFiresOnlyOnARealChange) {
  fill({1, 2});
  std::vector<std::size_t> fired;
  view.CheckedChanged().add([&](std::size_t i) { fired.push_back(i); });
  view.setChecked(1, true);
  view.setChecked(1, true);
  view.setChecked(0, false);
  EXPECT_EQ(fired, (std::vector<std::size_t>{1}));
}

TEST_F(MessageViewTest, SelectOnlySelectsOneRowAndFocusesIt) {
  fill({1, 2, 3});
  view.setSelected(0, true);
  view.setSelected(2, true);
  EXPECT_EQ(view.SelectedCount(), 2u);
  view.selectOnly(1);
  EXPECT_EQ(view.SelectedRows(), (std::vector<std::size_t>{1}));
  EXPECT_EQ(view.FocusedRow(), std::optional<std::size_t>(1));
}

// A front end forwards these one to one (a table model's begin/end calls), so
// every structural change must come as a before/after pair around it, also
// inside the update bracket, and a fill must tell which rows got their data.
TEST_F(MessageViewTest, AnnouncesEveryRowChangeAsAFrontEndNeedsIt) {
  using K = ViewChange::Kind;
  struct Seen {
    K what;
    std::size_t first, count, rowsThen;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  view.rowsChanged().add([&](const ViewChange& c) {
    seen.push_back({c.What, c.First, c.Count, view.RootNodeCount()});
  });

  fill({3, 9, 1});
  view.setChecked(2, true);
  view.setChecked(2, true);  // no change, no announcement
  view.setSortDirection(SortDirection::Ascending);
  view.Sort();
  view.setRootNodeCount(1);
  view.BeginUpdate();
  view.Clear();
  view.EndUpdate();

  const std::vector<Seen> expected = {
      {K::RowsAddBegins, 0, 3, 0},    {K::RowsAdded, 0, 3, 3},
      {K::RowsChanged, 0, 3, 3},  // initialised at the end of the bracket
      {K::SortBegins, 0, 0, 3},       {K::Sorted, 0, 0, 3},
      {K::RowsChanged, 2, 1, 3},  // the mark
      {K::SortBegins, 0, 0, 3},       {K::Sorted, 0, 0, 3},
      {K::RowsRemoveBegins, 1, 2, 3}, {K::RowsRemoved, 1, 2, 1},
      {K::ResetBegins, 0, 0, 1},      {K::ResetEnds, 0, 0, 0},
      {K::SortBegins, 0, 0, 0},       {K::Sorted, 0, 0, 0},  // the bracket's end sorts
  };
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace kelvrin::app
