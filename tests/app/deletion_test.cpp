// Deletion on the server: exact dialogues, the warnings, and the position
// lookup by unique id.

#include "app/deletion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/app_fixture.h"
#include "app/command_model.h"
#include "app/message_view_handlers.h"

namespace kelvrin::test {
namespace {

using DeletionTest = AppFixture;

// Which DELE commands a session log holds.
std::vector<std::string> deles(const std::vector<std::string>& commands) {
  std::vector<std::string> result;
  for (const auto& c : commands) {
    if (c.rfind("DELE", 0) == 0) result.push_back(c);
  }
  return result;
}

TEST_F(DeletionTest, NewMessageAtPositionOneMakesDeleUseTheNewPositions) {
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  const auto v3 = ValidMessage(3, "v3");
  const auto fresh = ValidMessage(4, "new");
  script.AddSession(CheckSession({s1, s2, v3}, true));
  // The deletion's session: the new message came first.
  script.AddSession(Join({LoginSteps(),
                          StatSteps({fresh, s1, s2, v3}, true),
                          UidlListSteps({fresh, s1, s2, v3}),
                          {"C: DELE 2", "S: +OK", "C: DELE 3", "S: +OK", "C: QUIT", "S: +OK"}}));
  script.AddSession(CheckSession({fresh, v3}, true));
  check();
  ASSERT_EQ(markedIndexes(), (std::vector<int>{0, 1}));
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(deles(script.SessionCommands(1)), (std::vector<std::string>{"DELE 2", "DELE 3"}));
  EXPECT_EQ(kv->Delete().Deleted(), (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 2u) << "the follow-up check lists what is left";
  EXPECT_EQ(status(), "Status: Received maildrop info");
}

TEST_F(DeletionTest, ServerWithoutIdsDeletesAtThePositionsOfTheCheckSession) {
  const auto s1 = SpamMessage(1);
  const auto v2 = ValidMessage(2);
  const auto s3 = SpamMessage(3);
  script.AddSession(Join({CheckSession({s1, v2, s3}, false),
                          {"C: DELE 1", "S: +OK", "C: DELE 3", "S: +OK", "C: QUIT", "S: +OK"}}));
  script.AddSession(CheckSession({v2}, false));
  check();
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(script.SessionsOpened(), 2);
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 1u);
}

TEST_F(DeletionTest, MessageGoneFromTheServerGetsDeleForCountPlusOneAndStops) {
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  const auto v3 = ValidMessage(3, "v3");
  script.AddSession(CheckSession({s1, s2, v3}, true));
  // Another program took s1 away; its id is not in the list.
  script.AddSession(Join({LoginSteps(),
                          StatSteps({s2, v3}, true),
                          UidlListSteps({s2, v3}),
                          {"C: DELE 3", "S: -ERR no such message", "C: QUIT", "S: +OK"}}));
  check();
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(status(), "Status: no such message") << "the refusal, not a success";
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 3u) << "the rows stay";
  EXPECT_TRUE(kv->Delete().Deleted().empty());
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_TRUE(kv->Commands.Enabled("BtDelete"));
}

// The position after the last listed message names no message; a server
// that accepts its DELE deleted one it did not list, so the session's DELEs
// must not take effect.
TEST_F(DeletionTest, ServerThatAcceptsDeleOfAnUnlistedPositionLosesTheSessionsDeletions) {
  const auto s1 = SpamMessage(1, "s1");
  const auto v2 = ValidMessage(2, "v2");
  const auto s3 = SpamMessage(3, "s3");
  script.AddSession(CheckSession({s1, v2, s3}, true));
  script.AddSession(Join(
      {LoginSteps(), StatSteps({v2, s3}, true), UidlListSteps({v2, s3}), {"C: DELE 3", "S: +OK"}}));
  check();
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(script.Finished());
  const auto commands = script.SessionCommands(1);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "QUIT"), 0) << "ended without QUIT";
  EXPECT_FALSE(kv->Pop3Client1.Connected());
  EXPECT_EQ(status(), "Status: Nothing deleted: the server's listing is wrong");
  EXPECT_TRUE(kv->Delete().Deleted().empty());
  EXPECT_FALSE(kv->Delete().LastCompleted());
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 3u) << "the rows stay";
  EXPECT_FALSE(kv->State.CheckInProgress);
}

TEST_F(DeletionTest, HeldSessionLostRefusesWithNotUidCapable) {
  script.AddSession(Join({CheckSession({SpamMessage(1)}, false), {"X:"}}));
  check();
  kv->Pop3Client1.Socket().Close();
  kv->btDeleteClick(app::kTagSpamDelete);
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "Not UIDcapable - Disconnected\rLogin to Delete");
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 1u);
  EXPECT_TRUE(kv->Commands.Enabled("BtDelete"));
  EXPECT_FALSE(kv->State.CheckInProgress);
}

TEST_F(DeletionTest, NothingMarkedTellsOnlyAVisibleWindowAndNotSendReceive) {
  script.AddSession(CheckSession({ValidMessage(1, "v1")}, true));
  check();
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(prompter.Boxes().empty()) << "hidden window: no box";
  kv->State.MainWindowVisible = true;
  kv->btDeleteClick(app::kTagSendReceive);
  EXPECT_TRUE(prompter.Boxes().empty()) << "Send/Receive goes on silently";
  kv->btDeleteClick(app::kTagSpamDelete);
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "Nothing marked to delete");
  EXPECT_EQ(script.SessionsOpened(), 1);
}

TEST_F(DeletionTest, DeleteAllWithValidMailAndHiddenWindowAsksAndNoKeepsTheMarks) {
  kv->KVmain->setChecked("DelAll1", true);
  script.AddSession(CheckSession({ValidMessage(1, "v1"), ValidMessage(2, "v2")}, true));
  check();
  prompter.Press("&No");
  kv->btDeleteClick(app::kTagDeleteAll);
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "Non-spam messages!\rSure you want to delete?");
  EXPECT_TRUE(markedIndexes().empty());
  EXPECT_TRUE(script.Finished());
}

TEST_F(DeletionTest, DeleteAllWithoutValidMailMarksAndDeletesWithoutAsking) {
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  script.AddSession(CheckSession({s1, s2}, true));
  script.AddSession(Join({LoginSteps(),
                          StatSteps({s1, s2}, true),
                          UidlListSteps({s1, s2}),
                          {"C: DELE 1", "S: +OK", "C: DELE 2", "S: +OK", "C: QUIT", "S: +OK"}}));
  script.AddSession(Join({LoginSteps(), StatSteps({}, true), QuitSteps()}));
  check();
  kv->btDeleteClick(app::kTagDeleteAll);
  EXPECT_TRUE(prompter.Boxes().empty());
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(status(), "Status: Logged off......");
}

TEST_F(DeletionTest, DeleteAllWithTheWindowShownCountsDownFourSeconds) {
  const auto v1 = ValidMessage(1, "v1");
  script.AddSession(CheckSession({v1}, true));
  script.AddSession(Join({LoginSteps(),
                          StatSteps({v1}, true),
                          UidlListSteps({v1}),
                          {"C: DELE 1", "S: +OK", "C: QUIT", "S: +OK"}}));
  script.AddSession(Join({LoginSteps(), StatSteps({}, true), QuitSteps()}));
  check();
  kv->State.MainWindowVisible = true;
  kv->KVmain->setChecked("MinOnDel1", false);
  const auto before = clock.now;
  kv->btDeleteClick(app::kTagDeleteAll);
  EXPECT_GE(clock.now - before, 4000);
  int steps = 0;
  for (const auto& c : prompter.Calls())
    steps += c.CallKind == FakePrompter::Kind::ProgressStep;
  EXPECT_EQ(steps, 4);
  EXPECT_TRUE(script.Finished());
}

TEST_F(DeletionTest, CancelledCountdownDeletesNothingAndMarksNothing) {
  script.AddSession(CheckSession({ValidMessage(1, "v1")}, true));
  check();
  kv->State.MainWindowVisible = true;
  prompter.CancelProgressAtStep(2);
  kv->btDeleteClick(app::kTagDeleteAll);
  EXPECT_TRUE(markedIndexes().empty());
  EXPECT_EQ(kv->State.CountdownCancelled, 0);
  EXPECT_EQ(script.SessionsOpened(), 1);
  EXPECT_FALSE(prompter.ProgressBoxIsOpen());
}

TEST_F(DeletionTest, NothingStartsWhileACheckHoldsTheSession) {
  script.AddSession(CheckSession({SpamMessage(1, "s1")}, true));
  check();
  kv->State.CheckInProgress = true;
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_EQ(script.SessionsOpened(), 1);
  EXPECT_TRUE(kv->Commands.Enabled("BtCancel")) << "Cancel stays available";
}

TEST_F(DeletionTest, MarkChangedDuringTheDeletionIsReadWhenTheRowIsReached) {
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  script.AddSession(CheckSession({s1, s2}, true));
  script.AddSession(Join({LoginSteps(),
                          StatSteps({s1, s2}, true),
                          UidlListSteps({s1, s2}),
                          {"C: DELE 1", "S: +OK", "C: QUIT", "S: +OK"}}));
  script.AddSession(CheckSession({s2}, true));
  check();
  // After the first row, the user unmarks the second.
  pump.onCall = [this](int) {
    if (kv->Delete().Running() && kv->Delete().DeletedCount() == 1) kv->VTree1.setChecked(1, false);
  };
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(script.Finished());
}

// An id that a listing holds more than once says nothing about which
// message it is: no DELE goes by it, and the user learns why. The same for a
// listing the client found unusable.
struct AmbiguousCase {
  const char* name;
  std::vector<ScriptMessage> checked;  // what the check listed (with its ids)
  std::vector<std::string> listing;    // the deletion's UIDL listing lines
  std::vector<std::string> expectedDele;
  const char* reason;                    // part of the reason shown
  std::vector<ScriptMessage> left = {};  // the follow-up check; empty: as checked
};

void PrintTo(const AmbiguousCase& c, std::ostream* os) {
  *os << c.name;
}

class AmbiguousIdTest : public AppFixture, public ::testing::WithParamInterface<AmbiguousCase> {};

TEST_P(AmbiguousIdTest, NoDeleByAnIdThatNamesNoSingleMessage) {
  const AmbiguousCase& c = GetParam();
  std::vector<std::string> listing = {"C: UIDL", "S: +OK"};
  for (const auto& line : c.listing)
    listing.push_back("S: " + line);
  listing.push_back("S: .");
  std::vector<std::string> deleSteps;
  for (const auto& d : c.expectedDele) {
    deleSteps.push_back("C: " + d);
    deleSteps.push_back("S: +OK");
  }
  // The deletion's session: STAT's probe sees the same listing as the
  // deletion's own UIDL.
  script.AddSession(CheckSession(c.checked, true));
  script.AddSession(Join(
      {LoginSteps(),
       {"C: STAT", "S: +OK " + std::to_string(c.listing.size()) + " 4000", "C: LAST", "S: +OK 0"},
       listing,
       listing,
       deleSteps,
       QuitSteps()}));
  script.AddSession(CheckSession(c.left.empty() ? c.checked : c.left, true));
  check();
  ASSERT_FALSE(markedIndexes().empty());
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(script.Finished());
  EXPECT_FALSE(kv->Delete().LastCompleted()) << "a marked message was left on the server";
  EXPECT_NE(kv->dfsStatus.Panel(2).find(c.reason), std::string::npos)
      << "status: " << status() << " / reason: " << kv->dfsStatus.Panel(2);
  EXPECT_FALSE(kv->State.CheckInProgress);
}

INSTANTIATE_TEST_SUITE_P(Table, AmbiguousIdTest,
                         ::testing::Values(
                             // A buggy server gave the spam and a valid message the same id.
                             AmbiguousCase{
                                 "SharedIdInBothListings",
                                 {SpamMessage(1, "x"), ValidMessage(2, "x"), SpamMessage(3, "s3")},
                                 {"1 x", "2 x", "3 s3"},
                                 {"DELE 3"},
                                 "more than once",
                                 {SpamMessage(1, "x"), ValidMessage(2, "x")}},
                             // Unique when checked, but now a second message carries the id.
                             AmbiguousCase{"IdListedTwiceByTheDeletionsListing",
                                           {SpamMessage(1, "a"), ValidMessage(2, "b")},
                                           {"1 b", "2 a", "3 a"},
                                           {},
                                           "more than once"},
                             // Two rows of the check had the id; the new listing has it once, but
                             // which of the two it is cannot be told.
                             AmbiguousCase{"IdSharedByTwoRowsOfTheCheck",
                                           {SpamMessage(1, "x"), ValidMessage(2, "x")},
                                           {"1 x", "2 y"},
                                           {},
                                           "more than once"},
                             AmbiguousCase{"UnusableListing",
                                           {SpamMessage(1, "a"), ValidMessage(2, "b")},
                                           {"1 a", "1 b"},
                                           {},
                                           "listing is unusable"}),
                         [](const auto& info) { return std::string(info.param.name); });

class DeletionMailboxTest : public AppFixture {
 protected:
  DeletionMailboxTest() : AppFixture(/*useMailbox=*/true) {}
};

// A header click while a DELE is awaited re-sorts the rows under the walk.
TEST_F(DeletionMailboxTest, ResortDuringTheDeletionDeletesEachMarkedRowOnce) {
  for (bool withUidl : {true, false}) {
    mailbox = MailboxPop3(clock);
    mailbox.mailbox = MixedMailbox(9);  // s3 s6 s9
    mailbox.withUidl = withUidl;
    check();
    bool clicked = false;
    pump.onCall = [&](int) {
      if (!clicked && kv->Delete().Running() && kv->Delete().DeletedCount() == 1) {
        clicked = true;
        kv->View().VTree1HeaderClick(app::kColIndex);
      }
    };
    kv->btDeleteClick(app::kTagSpamDelete);
    pump.onCall = nullptr;
    ASSERT_TRUE(clicked);
    std::multiset<std::string> named;
    for (const auto& d : mailbox.Deles()) {
      EXPECT_TRUE(d.accepted) << "DELE " << d.position;
      named.insert(d.id);
    }
    EXPECT_EQ(named, (std::multiset<std::string>{"s3", "s6", "s9"}))
        << (withUidl ? "with ids" : "without ids");
    EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1", "v2", "v4", "v5", "v7", "v8"}));
  }
}

// "+OK" to a DELE is no deletion until the follow-up check no longer lists
// the message.
TEST_F(DeletionMailboxTest, EffectIsJudgedByTheFollowUpCheck) {
  for (bool ignoreDele : {false, true}) {
    mailbox = MailboxPop3(clock);
    mailbox.mailbox = MixedMailbox(7);  // s3 s6
    mailbox.ignoreDele = ignoreDele;
    check();
    kv->btDeleteClick(app::kTagSpamDelete);
    const app::DeletionEffect& effect = kv->Delete().Effect();
    ASSERT_TRUE(effect.Verified);
    EXPECT_EQ(kv->Delete().Deleted().size(), 2u) << "both DELEs were accepted";
    if (ignoreDele) {
      EXPECT_TRUE(effect.Gone.empty());
      EXPECT_EQ(effect.StillListed, 2);
      EXPECT_EQ(status(), "Status: 2 deleted messages are still listed");
    } else {
      EXPECT_EQ(effect.Gone, kv->Delete().Deleted());
      EXPECT_EQ(effect.StillListed, 0);
      EXPECT_EQ(status(), "Status: Received maildrop info");
    }
  }
}

TEST_F(DeletionMailboxTest, SendReceiveLeavesTheEffectUnjudged) {
  mailbox.mailbox = MixedMailbox(4);
  check();
  kv->btDeleteClick(app::kTagSendReceive);
  EXPECT_EQ(kv->Delete().Deleted().size(), 1u);
  EXPECT_FALSE(kv->Delete().Effect().Verified) << "no check followed";
}

// The command-mail handling takes the first message out of the list: list
// positions no longer tell the server numbers.
class DropFirstMessage final : public app::SysMessages {
 public:
  void IncomingSysMessage(app::TKVmain& kv) override {
    if (kv.MessageList1.Count() > 0) kv.MessageList1.Delete(0);
  }
};

TEST_F(DeletionMailboxTest, ServerWithoutIdsUsesTheNumbersTheCheckWasGiven) {
  mailbox.mailbox = MixedMailbox(4);  // v1 v2 s3 v4
  mailbox.withUidl = false;
  kv->setSysMessages(std::make_unique<DropFirstMessage>());
  check();
  ASSERT_EQ(kv->VTree1.RootNodeCount(), 3u);
  // The body of v4 (list item 2).
  for (std::size_t i = 0; i < kv->VTree1.RootNodeCount(); ++i) {
    if (kv->VTree1.Row(i).Node.MsgIndex == 2) kv->VTree1.selectOnly(i);
  }
  kv->DisplayBody();
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text.rfind("Hello v4\r", 0), 0u) << prompter.Boxes()[0].Text;
  kv->btDeleteClick(app::kTagSpamDelete);
  ASSERT_EQ(mailbox.Deles().size(), 1u);
  EXPECT_EQ(mailbox.Deles()[0].id, "s3");
  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1", "v2", "v4"}));
}

struct UidlCase {
  const char* name;
  std::vector<std::string> list;
  std::string wanted;
  int position;
};

class ReturnUIDLposTest : public AppFixture, public ::testing::WithParamInterface<UidlCase> {};

TEST_P(ReturnUIDLposTest, FindsOnlyTheWholeId) {
  const UidlCase& c = GetParam();
  kv->UIDLList = c.list;
  EXPECT_EQ(kv->Delete().ReturnUIDLpos(c.wanted), c.position);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReturnUIDLposTest,
    ::testing::Values(UidlCase{"EmptyIdIsMinusOne", {"a", "b"}, "", -1},
                      UidlCase{"EmptyListIsMinusOne", {}, "a", -1},
                      UidlCase{"FirstEntry", {"abc", "def"}, "abc", 1},
                      UidlCase{"LaterEntry", {"abc", "def", "ghi"}, "ghi", 3},
                      UidlCase{
                          "LongerIdEndingInTheSameDigitsIsNotAMatch", {"1123", "123"}, "123", 2},
                      UidlCase{"LongerIdStartingTheSameIsNotAMatch", {"1234", "99"}, "123", 3},
                      UidlCase{"PartOfTheWantedIdIsNotAMatch", {"12", "1"}, "123", 3},
                      UidlCase{"BlanksAroundTheEntryIgnored", {"x", " abc "}, "abc", 2},
                      UidlCase{"BlanksAroundTheWantedIdIgnored", {"abc"}, "  abc ", 1},
                      UidlCase{"CaseCounts", {"ABC"}, "abc", 2},
                      UidlCase{"NotFoundIsCountPlusOne", {"a", "b", "c"}, "z", 4},
                      UidlCase{"BlankOnlyIdIsMinusOne", {"a"}, "   ", -1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::test
