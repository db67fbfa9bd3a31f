// The rules behind the quick-mail form's address boxes and the lists'
// context menu: completion of typed text, which menu items a list offers,
// how the entry under the pointer is taken, and whom "MailTo" writes to.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "outgoing/list_menu.h"
#include "outgoing/lookup_completion.h"
#include "outgoing/quick_mail.h"

namespace kelvrin::outgoing {
namespace {

struct CompletionCase {
  const char* name;
  std::vector<std::string> items;
  std::string typed;
  bool characterKey;
  std::optional<Completion> expected;
};

class CompleteTextTest : public ::testing::TestWithParam<CompletionCase> {};

TEST_P(CompleteTextTest, PicksTheItemAndWhatIsSelected) {
  const CompletionCase& c = GetParam();
  const auto got = CompleteText(c.items, c.typed, c.characterKey);
  ASSERT_EQ(got.has_value(), c.expected.has_value());
  if (!got) return;
  EXPECT_EQ(got->Index, c.expected->Index);
  EXPECT_EQ(got->Text, c.expected->Text);
  EXPECT_EQ(got->Caret, c.expected->Caret);
  EXPECT_EQ(got->SelectLength, c.expected->SelectLength);
}

const std::vector<std::string> kStored{"me@example.com", "bob@example.net", "Bobby@Example.org",
                                       "bo@x.io"};

INSTANTIATE_TEST_SUITE_P(
    Lookup, CompleteTextTest,
    ::testing::Values(CompletionCase{"PrefixSelectsTheTail", kStored, "bob", true,
                                     Completion{1, "bob@example.net", 3, 12}},
                      CompletionCase{"PrefixIgnoresCaseAndKeepsTheStoredForm", kStored, "BOBB",
                                     true, Completion{2, "Bobby@Example.org", 4, 13}},
                      CompletionCase{"EqualItemWinsOverAnEarlierPrefix", kStored, "BO@X.IO", true,
                                     Completion{3, "bo@x.io", 7, 0}},
                      CompletionCase{"FirstPrefixInListOrder", kStored, "bo", true,
                                     Completion{1, "bob@example.net", 2, 13}},
                      CompletionCase{"WithoutACharacterKeyNothingIsSelected", kStored, "me", false,
                                     Completion{0, "me@example.com", 2, 0}},
                      CompletionCase{"NoItemStartsWithIt", kStored, "zed", true, std::nullopt},
                      CompletionCase{"LongerThanEveryItem", kStored, "me@example.com.au", true,
                                     std::nullopt},
                      CompletionCase{"EmptyTextCompletesNothing", kStored, "", true, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompletesAfterTest, DeletingOrMovingDoesNotCompleteAgain) {
  EXPECT_TRUE(CompletesAfter(LookupKey::Character, "b"));
  EXPECT_TRUE(CompletesAfter(LookupKey::Other, "b")) << "a paste completes";
  for (LookupKey k : {LookupKey::Backspace, LookupKey::Delete, LookupKey::Arrow})
    EXPECT_FALSE(CompletesAfter(k, "bo"));
  EXPECT_FALSE(CompletesAfter(LookupKey::Character, "")) << "an emptied box stays empty";
}

filter::TEditListBox listOf(std::vector<std::string> entries) {
  filter::TEditListBox list;
  for (const auto& e : entries)
    list.Add(e);
  return list;
}

TEST(Popup3Test, EachListOffersItsOwnItems) {
  const ListMenuItems favourites = Popup3Items(ListMenuOwner::Favourites);
  const ListMenuItems websites = Popup3Items(ListMenuOwner::Websites);
  const ListMenuItems rules = Popup3Items(ListMenuOwner::RuleList);
  EXPECT_TRUE(favourites.MailTo && favourites.Delete);
  EXPECT_FALSE(favourites.Edit || favourites.Paste);
  EXPECT_TRUE(websites.Delete);
  EXPECT_FALSE(websites.MailTo || websites.Edit || websites.Paste);
  EXPECT_TRUE(rules.Edit && rules.Delete);
  EXPECT_FALSE(rules.MailTo || rules.Paste);
}

TEST(Popup3Test, EntryUnderThePointerJoinsAMultipleSelectionAndIsFocused) {
  auto list = listOf({"a@x", "b@x", "c@x", "d@x"});
  list.Click({false, false}, 0);
  list.Click({false, true}, 1);  // Ctrl: a multiple selection
  ASSERT_EQ(list.SelCount(), 2);
  Popup3Popup(list, 3);
  EXPECT_EQ(list.ItemIndex(), 3);
  EXPECT_EQ(list.SelCount(), 3);
  EXPECT_TRUE(list.Selected(0) && list.Selected(1) && list.Selected(3));
  EXPECT_TRUE(list.MultiSelect()) << "restored as it was";
}

TEST(Popup3Test, SingleSelectionMovesToTheEntryAndStaysSingle) {
  auto list = listOf({"a@x", "b@x", "c@x"});
  list.Click({false, false}, 0);
  Popup3Popup(list, 2);
  EXPECT_EQ(list.ItemIndex(), 2);
  EXPECT_EQ(list.SelCount(), 1);
  EXPECT_FALSE(list.MultiSelect());
  Popup3Popup(list, -1);
  EXPECT_EQ(list.ItemIndex(), 2) << "no entry under the pointer keeps the focus";
}

TEST(Popup3Test, DeleteRemovesTheFocusedEntryAndEditOpensTheEditorOnIt) {
  auto list = listOf({"a@x", "b@x", "c@x"});
  Popup3Popup(list, 1);
  EXPECT_TRUE(Pop3click(list, ListMenuItem::Edit) == false);
  EXPECT_TRUE(list.editor().Visible);
  EXPECT_EQ(list.editor().EntryIndex, 1);
  list.EditorKeyDown(filter::EditorKey::Escape);
  EXPECT_TRUE(Pop3click(list, ListMenuItem::Delete));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0), "a@x");
  EXPECT_EQ(list.Items(1), "c@x");
  EXPECT_FALSE(Pop3click(list, ListMenuItem::Delete)) << "nothing focused any more";
  EXPECT_EQ(list.Count(), 2);
}

TEST(MailToTest, OneOrSeveralFavourites) {
  auto list = listOf({"ann@x.org,198.51.100.4", "Bob <bob@y.net>", "cy@z.com"});
  EXPECT_FALSE(MailToAddresses(list).has_value()) << "nothing focused";
  list.Click({false, false}, 0);
  auto one = MailToAddresses(list);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->To, "ann@x.org");
  EXPECT_FALSE(one->MultiAddressWarning);
  list.Click({false, true}, 2);
  list.Click({false, true}, 1);
  auto several = MailToAddresses(list);
  ASSERT_TRUE(several);
  EXPECT_EQ(several->To, "ann@x.org;bob@y.net;cy@z.com") << "in list order, not click order";
  EXPECT_TRUE(several->MultiAddressWarning);
}

}  // namespace
}  // namespace kelvrin::outgoing
