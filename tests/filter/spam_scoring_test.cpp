#include "filter/spam_scoring.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvrin::filter {
namespace {

// ---- ParseMailAdds, ClrXtraStr, ListMatch ------------------------------------

struct TextCase {
  const char* name;
  std::string input;
  std::string expected;
};

class ParseMailAddsExamples : public ::testing::TestWithParam<TextCase> {};

TEST_P(ParseMailAddsExamples, ExtractsTheBareAddress) {
  EXPECT_EQ(ParseMailAdds(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseMailAddsExamples,
    ::testing::Values(TextCase{"NameAndAddress", "\"John Smith\" <john@x.org>", "john@x.org"},
                      TextCase{"BracketedOnly", "<john@x.org>", "john@x.org"},
                      TextCase{"CommaInQuotedName", "\"Smith, John\" <john@x.org>", "john@x.org"},
                      TextCase{"TwoBareAddressesGiveTheFirst", "a@x.org, b@y.org", "a@x.org"},
                      TextCase{"TwoBracketedGiveTheLast", "\"A\" <a@x.org>, \"B\" <b@y.org>",
                               "b@y.org"},
                      TextCase{"LeadingCommaCutsNothing", ",a@x.org", ",a@x.org"},
                      TextCase{"OnlyTheFirstClosingBracketGoes", "a>>b", "a>b"},
                      TextCase{"BlanksAreKept", " a@x.org ", " a@x.org "},
                      TextCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

class ClrXtraStrExamples : public ::testing::TestWithParam<TextCase> {};

TEST_P(ClrXtraStrExamples, CleansTheSubject) {
  EXPECT_EQ(ClrXtraStr(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ClrXtraStrExamples,
                         ::testing::Values(TextCase{"OnlyTheFirstRe", "Re: Re: Hello", "re: hello"},
                                           TextCase{"Fwd", "FWD: Offer", "offer"},
                                           TextCase{"OnlyOneOfTwoBlanksGoes", "Fw: Re: test",
                                                    " test"},
                                           TextCase{"AnywhereInTheText", "Are: you", "a you"},
                                           TextCase{"NoPrefix", "Hello World", "hello world"},
                                           TextCase{"OnlyAsciiLowered", "\xC4QUIPE", "\xC4quipe"},
                                           TextCase{"Empty", "", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ListMatchCase {
  const char* name;
  const char* text;
  const char* entry;
  int expected;
};

class ListMatchExamples : public ::testing::TestWithParam<ListMatchCase> {};

TEST_P(ListMatchExamples, GivesThePositionOfOneInsideTheOther) {
  const auto& c = GetParam();
  EXPECT_EQ(ListMatch(c.text, c.entry), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ListMatchExamples,
    ::testing::Values(ListMatchCase{"DomainEntry", "john@x.org", "X.ORG", 6},
                      ListMatchCase{"TextInsideEntry", "x.org", "John@X.org", 6},
                      ListMatchCase{"OneLetterMatchesAnyCase", "john@x.org", "J", 1},
                      ListMatchCase{"Equal", "a@b.c", "A@B.C", 1},
                      ListMatchCase{"Neither", "a@b.c", "d@e.f", 0},
                      ListMatchCase{"EmptyText", "", "a", 0},
                      ListMatchCase{"EmptyEntry", "a", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- GetSpamLevel --------------------------------------------------------------

class GetSpamLevelTest : public ::testing::Test {
 protected:
  GetSpamLevelTest() {
    for (TEditListBox* list : {&banEM, &allowEM, &banSubject, &favourites})
      list->setSorted(true);
    allowEM.Add("me@home.example");
  }

  ScoringInputs inputs() {
    return {banEM,     allowEM,       banSubject,   favourites, SpinEdit2,
            SpinEdit3, SpamOnSubject, PossSpamSubj, ExtraAdds1};
  }

  // Scores one message and checks that it was counted exactly once.
  int score(const std::string& from, const std::string& to, const std::string& subject) {
    node = MessageNode{};
    const SpamCounters before = counters;
    const int level = GetSpamLevel(inputs(), from, to, subject, node, counters);
    const int counted = (counters.ValidCount - before.ValidCount) +
                        (counters.SuspectCount - before.SuspectCount) +
                        (counters.SpamCount - before.SpamCount);
    EXPECT_EQ(counted, 1);
    EXPECT_GE(level, 0);
    EXPECT_LE(level, 10);
    return level;
  }

  void banSubjects(std::initializer_list<const char*> subjects) {
    for (const char* s : subjects)
      banSubject.Add(s);
  }

  TEditListBox banEM, allowEM, banSubject, favourites;
  int SpinEdit2 = 50;
  int SpinEdit3 = 50;
  bool SpamOnSubject = false;
  bool PossSpamSubj = true;
  bool ExtraAdds1 = true;
  MessageNode node;
  SpamCounters counters;
};

TEST_F(GetSpamLevelTest, BannedSenderIsSpamEvenWhenAlsoAllowed) {
  banEM.Add("spam.example");
  allowEM.Add("boss@spam.example");
  EXPECT_EQ(score("\"Boss\" <boss@spam.example>", "me@home.example", "Hi"), 10);
  EXPECT_EQ(node.BaddsLevel, 10);
  EXPECT_EQ(node.ToLevel, 0);
  EXPECT_EQ(counters.SpamCount, 1);
}

TEST_F(GetSpamLevelTest, BannedEntryMatchesInAnyLetterCase) {
  banEM.Add("SPAM.example");
  EXPECT_EQ(score("<Offers@Spam.Example>", "me@home.example", "Hi"), 10);
  EXPECT_EQ(node.BaddsLevel, 10);
}

TEST_F(GetSpamLevelTest, NotAddressedToAnAllowedRecipientIsSpam) {
  allowEM.Clear();
  EXPECT_EQ(score("<a@b.example>", "someone@else.example", "Hello"), 10);
  EXPECT_EQ(node.ToLevel, 10);
  EXPECT_EQ(counters.SpamCount, 1);
}

TEST_F(GetSpamLevelTest, EmptyRecipientListSkipsTheAllowedRecipientRule) {
  allowEM.Clear();
  EXPECT_EQ(score("<a@b.example>", "", "Hello"), 0);
  EXPECT_EQ(node.ToLevel, 0);
  EXPECT_EQ(counters.ValidCount, 1);
}

TEST_F(GetSpamLevelTest, AllowedSenderIsValidWhateverTheSubject) {
  allowEM.Add("friend@x.example");
  banSubjects({"win money"});
  EXPECT_EQ(score("<friend@x.example>", "other@y.example", "Win money"), 0);
  EXPECT_EQ(counters.ValidCount, 1);
  EXPECT_EQ(node.BsubjLevel, 0);
}

TEST_F(GetSpamLevelTest, FavouriteSenderIsValidAndTheFavouriteIsSelected) {
  favourites.Add("other@x.example");
  favourites.Add("Pal <PAL@x.example>");
  banSubjects({"win money"});
  EXPECT_EQ(score("<pal@x.example>", "me@home.example", "Win money"), 0);
  EXPECT_EQ(favourites.ItemIndex(), 1);
  EXPECT_EQ(score("<stranger@x.example>", "me@home.example", "Hello"), 0);
  EXPECT_EQ(favourites.ItemIndex(), -1);
}

TEST_F(GetSpamLevelTest, MultiAddressCountReplacesTheAllowedRecipientBonus) {
  EXPECT_EQ(score("<a@b.example>", "me@home.example, x@y.example; z@y.example", "Hello"), 2);
  EXPECT_EQ(node.ToLevel, 2);
  EXPECT_EQ(counters.SuspectCount, 1);
}

TEST_F(GetSpamLevelTest, AllowedRecipientBonusAbsorbsUpToFivePoints) {
  ExtraAdds1 = false;
  banSubjects({"a", "b"});  // a blank subject adds 5 per entry
  EXPECT_EQ(score("<a@b.example>", "me@home.example, x@y.example", ""), 5);
  EXPECT_EQ(node.ToLevel, 0);
  banSubject.Clear();
  banSubjects({"a"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example, x@y.example", ""), 0);
}

TEST_F(GetSpamLevelTest, BlankSubjectLikelySpamAddsFivePerEntry) {
  banSubjects({"one", "two", "three"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "Re:"), 10);
  EXPECT_EQ(node.BsubjLevel, 5);
  EXPECT_EQ(counters.SpamCount, 1);
}

TEST_F(GetSpamLevelTest, BlankSubjectWithoutBannedSubjectsAddsNothing) {
  EXPECT_EQ(score("<a@b.example>", "me@home.example", ""), 0);
  EXPECT_EQ(node.BsubjLevel, 0);
}

TEST_F(GetSpamLevelTest, BlankSubjectIsSpamGivesExactlyTen) {
  PossSpamSubj = false;
  SpamOnSubject = true;
  ExtraAdds1 = false;  // starts from -5
  banSubjects({"one", "two"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", ""), 10);
  EXPECT_EQ(node.BsubjLevel, 10);
}

TEST_F(GetSpamLevelTest, BlankSubjectNeitherOptionAddsNothing) {
  PossSpamSubj = false;
  banSubjects({"one"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", ""), 0);
}

TEST_F(GetSpamLevelTest, SimilarSubjectAddsTheHeuristicWeight) {
  SpinEdit3 = 0;
  banSubjects({"Cheap offer"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "RE: CHEAP OFFER NOW"), 3);
  EXPECT_EQ(node.BsubjLevel, 3);
  SpinEdit2 = 100;
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "RE: CHEAP OFFER NOW"), 6);
}

TEST_F(GetSpamLevelTest, SubjectsLongerThan255NeverScoreBySimilarity) {
  SpinEdit3 = 0;
  banSubjects({"cheap offer"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "cheap offer" + std::string(245, '!')), 0);
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "cheap offer" + std::string(244, '!')), 0)
      << "11 of 266 characters are not similar either";
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "cheap offer!"), 3);
}

TEST_F(GetSpamLevelTest, ApproximateMatchForgivesOneCapitalButNotSix) {
  SpinEdit2 = 0;  // the approximate match alone
  banSubjects({"Viagra"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "cheap viagra now"), 4);
  EXPECT_EQ(node.BsubjLevel, 4);
  banSubject.Clear();
  banSubjects({"VIAGRA"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "cheap viagra now"), 0);
}

TEST_F(GetSpamLevelTest, FuzzyLevelZeroNeverAddsByApproximateMatch) {
  SpinEdit2 = 0;
  SpinEdit3 = 0;
  banSubjects({"viagra"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "viagra"), 0);
}

TEST_F(GetSpamLevelTest, DefaultSettingsAddBothSubjectRules) {
  banSubjects({"Viagra"});
  // Similarity 55 adds 3; the approximate match consumes 7 and adds 4.
  EXPECT_EQ(score("\"Shop\" <shop@x.example>", "me@home.example", "Cheap viagra now"), 7);
  EXPECT_EQ(node.BsubjLevel, 7);
  EXPECT_EQ(counters.SuspectCount, 1);
}

TEST_F(GetSpamLevelTest, SetsOnlyTheLevelPartsOfTheNode) {
  banEM.Add("spam.example");
  MessageNode n;
  n.MsgIndex = 4;
  n.SpamLevel = 9;
  n.ToLevel = 7;
  n.BsubjLevel = 7;
  n.From = "keep";
  GetSpamLevel(inputs(), "<x@spam.example>", "me@home.example", "x", n, counters);
  EXPECT_EQ(n.MsgIndex, 4);
  EXPECT_EQ(n.SpamLevel, 9);
  EXPECT_EQ(n.From, "keep");
  EXPECT_EQ(n.BaddsLevel, 10);
  EXPECT_EQ(n.ToLevel, 0);
  EXPECT_EQ(n.BsubjLevel, 0);
}

TEST_F(GetSpamLevelTest, OutOfRangeSettingsActAsTheNearestSpinValue) {
  SpinEdit2 = 500;
  SpinEdit3 = -20;
  banSubjects({"Cheap offer"});
  EXPECT_EQ(score("<a@b.example>", "me@home.example", "cheap offer now"), 6);
}

TEST_F(GetSpamLevelTest, ScorerSeesListsThatChangeBetweenMessages) {
  SpamScorer scorer(inputs());
  EXPECT_EQ(scorer.GetSpamLevel("<x@new-spam.example>", "me@home.example", "Hi", node, counters),
            0);
  banEM.Add("new-spam.example");
  EXPECT_EQ(scorer.GetSpamLevel("<x@new-spam.example>", "me@home.example", "Hi", node, counters),
            10);
  banSubjects({"hi"});
  allowEM.Clear();
  EXPECT_EQ(scorer.GetSpamLevel("<y@z.example>", "me@home.example", "Hi", node, counters), 10);
  EXPECT_EQ(node.ToLevel, 10);
}

TEST_F(GetSpamLevelTest, CountersWrapLikeSixteenBitCounts) {
  counters.SpamCount = 65535;
  allowEM.Clear();
  GetSpamLevel(inputs(), "<a@b.example>", "x@y.example", "Hi", node, counters);
  EXPECT_EQ(counters.SpamCount, 0);
}

}  // namespace
}  // namespace kelvrin::filter
