// One operation at a time holds the POP3 session: a check, a deletion (from
// before its countdown) or a body display owns it from its start to its end,
// whatever returns the window to idle in between, and every entry point
// refuses to start meanwhile. A deletion on a server without unique ids only
// sends DELE in the session its check listed.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/app_fixture.h"
#include "app/body_display.h"
#include "app/command_model.h"
#include "app/deletion.h"
#include "app/message_view_handlers.h"

namespace kelvrin::test {
namespace {

class SessionOwnershipTest : public AppFixture {
 protected:
  SessionOwnershipTest() : AppFixture(/*useMailbox=*/true) {}

  std::vector<std::string> deleIds() const {
    std::vector<std::string> ids;
    for (const auto& d : mailbox.Deles())
      ids.push_back(d.id);
    return ids;
  }
};

enum class Operation { Check, Deletion, DeleteAllCountdown, BodyDisplay };
enum class Entry { GetServerMessages, RunRequestedCheck, DeleteKey, EnterKey, Timer1Timer };

struct OwnershipCase {
  std::string name;
  Operation operation;
  Entry entry;
  bool withUidl;
  friend void PrintTo(const OwnershipCase& c, std::ostream* os) { *os << c.name; }
};

class EntryRefusalTest : public SessionOwnershipTest,
                         public ::testing::WithParamInterface<OwnershipCase> {
 protected:
  void enter(Entry entry) {
    switch (entry) {
      case Entry::GetServerMessages:
        kv->GetServerMessages();
        break;
      case Entry::RunRequestedCheck:
        kv->State.CheckRequested = true;
        kv->Check().RunRequestedCheck();
        break;
      case Entry::DeleteKey:
        kv->btDeleteClick(app::kTagSpamDelete);
        break;
      case Entry::EnterKey:
        kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
        break;
      case Entry::Timer1Timer:
        kv->KVmain->setChecked("EnterDispBody1", false);
        kv->Body().Timer1Timer();
        kv->KVmain->setChecked("EnterDispBody1", true);
        break;
    }
  }
};

// In the middle of the operation something returns the window to idle (the
// OnDisconnect of a Quit, a reported error, Cancel all run ResetStatus), and
// then the user or a timer reaches an entry point: it must not touch the
// session.
TEST_P(EntryRefusalTest, NothingStartsWhileAnOperationOwnsTheSession) {
  const OwnershipCase& c = GetParam();
  mailbox.mailbox = MixedMailbox(4);
  mailbox.withUidl = c.withUidl;
  check();
  ASSERT_EQ(markedIndexes().size(), 1u);
  kv->VTree1.selectOnly(0);
  mailbox.slowReplies = true;

  bool running = false;  // the operation below has started
  bool entered = false;
  std::size_t commandsBefore = 0;
  int sessionsBefore = 0;
  std::size_t boxesBefore = 0;
  pump.onCall = [&](int) {
    if (!running || entered) return;
    entered = true;
    kv->ResetStatus();
    ASSERT_FALSE(kv->State.CheckInProgress);
    commandsBefore = mailbox.Log().size();
    sessionsBefore = mailbox.Sessions();
    boxesBefore = prompter.Boxes().size();
    enter(c.entry);
    EXPECT_EQ(mailbox.Log().size(), commandsBefore) << "a command went out";
    EXPECT_EQ(mailbox.Sessions(), sessionsBefore) << "a session was opened";
    EXPECT_EQ(prompter.Boxes().size(), boxesBefore) << "a box was shown";
  };

  const auto before = mailbox.Ids();
  switch (c.operation) {
    case Operation::Check:
      kv->btOpenClick();
      running = true;
      kv->Check().RunRequestedCheck();
      break;
    case Operation::Deletion:
      running = true;
      kv->btDeleteClick(app::kTagSpamDelete);
      break;
    case Operation::DeleteAllCountdown:
      kv->KVmain->setChecked("DelAll1", true);
      kv->KVmain->setChecked("MinOnDel1", false);
      kv->State.MainWindowVisible = true;
      running = true;
      kv->btDeleteClick(app::kTagDeleteAll);
      break;
    case Operation::BodyDisplay:
      running = true;
      kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
      break;
  }
  pump.onCall = nullptr;
  ASSERT_TRUE(entered);
  EXPECT_EQ(kv->State.SessionOwner, app::SessionOperation::None) << "released at the end";

  // The operation itself went on to its end undisturbed.
  check();  // quits whatever session is held
  std::set<std::string> expected = before;
  if (c.operation == Operation::Deletion) expected.erase("s3");
  if (c.operation == Operation::DeleteAllCountdown) expected.clear();
  EXPECT_EQ(mailbox.Ids(), expected);
}

std::vector<OwnershipCase> ownershipCases() {
  struct Op {
    const char* name;
    Operation operation;
  };
  struct In {
    const char* name;
    Entry entry;
  };
  const Op ops[] = {{"Check", Operation::Check},
                    {"Deletion", Operation::Deletion},
                    {"DeleteAllCountdown", Operation::DeleteAllCountdown},
                    {"BodyDisplay", Operation::BodyDisplay}};
  const In entries[] = {{"GetServerMessages", Entry::GetServerMessages},
                        {"RunRequestedCheck", Entry::RunRequestedCheck},
                        {"DeleteKey", Entry::DeleteKey},
                        {"EnterKey", Entry::EnterKey},
                        {"Timer1Timer", Entry::Timer1Timer}};
  std::vector<OwnershipCase> cases;
  for (bool withUidl : {true, false}) {
    for (const Op& op : ops) {
      for (const In& in : entries) {
        // Enter during the body display is the display's own re-entry guard.
        if (op.operation == Operation::BodyDisplay && in.entry == Entry::EnterKey) continue;
        cases.push_back(
            OwnershipCase{std::string(op.name) + "_" + in.name + (withUidl ? "" : "_NoIds"),
                          op.operation, in.entry, withUidl});
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, EntryRefusalTest, ::testing::ValuesIn(ownershipCases()),
                         [](const auto& info) { return info.param.name; });

// The Del key during the next check's login, on a server without ids whose
// positions shifted since the last check: the DELE of the old position
// would name a valid message in the new session.
TEST_F(SessionOwnershipTest, DeleteDuringTheNextChecksLoginDeletesNothing) {
  mailbox.mailbox = MixedMailbox(4);  // v1 v2 s3 v4
  mailbox.withUidl = false;
  mailbox.slowReplies = true;
  check();
  ASSERT_EQ(markedIndexes(), (std::vector<int>{2}));
  mailbox.mailbox.erase(mailbox.mailbox.begin());  // another program took v1
  bool pressed = false;
  pump.onCall = [&](int) {
    if (pressed || mailbox.Log().empty() || mailbox.Log().back() != "LAST") return;
    pressed = true;
    kv->btDeleteClick(app::kTagSpamDelete);
  };
  check();
  ASSERT_TRUE(pressed);
  EXPECT_TRUE(mailbox.Deles().empty());
  check();
  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v2", "s3", "v4"}));
}

// The tenth check with "Web AutoUpdate" opens a session and lists nothing:
// the rows still carry the positions of the check before it.
TEST_F(SessionOwnershipTest, DeletionWithoutIdsOnlyUsesTheSessionItsCheckListed) {
  mailbox.mailbox = MixedMailbox(4);
  mailbox.withUidl = false;
  kv->KVmain->setChecked("AutoUpdate1", true);
  kv->State.CheckCounter = 8;
  check();  // the ninth: lists, keeps its session
  ASSERT_EQ(markedIndexes(), (std::vector<int>{2}));
  mailbox.mailbox.erase(mailbox.mailbox.begin());
  check();  // the tenth: a version check in a new session
  ASSERT_EQ(status(), "Status: Check for Update...");
  ASSERT_TRUE(kv->Pop3Client1.Connected());
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(mailbox.Deles().empty());
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "Not UIDcapable - Disconnected\rLogin to Delete");
  EXPECT_TRUE(kv->Commands.Enabled("BtDelete"));
  EXPECT_FALSE(kv->State.CheckInProgress);
}

// Cancel and the scheduler's next tick handled by the same pump, right
// after a message was fetched and before it is in the list: a check started
// there would free that message (its listing releases unlisted ones) and
// clear Aborted, and the outer check would add the freed message.
TEST_F(SessionOwnershipTest, RequestedCheckDoesNotStartInsideACancelledOne) {
  mailbox.mailbox = MixedMailbox(4);
  bool ticked = false;
  pump.onCall = [&](int) {
    if (ticked || mailbox.Log().empty() || mailbox.Log().back() != "UIDL 1") return;
    ticked = true;
    kv->BtCancelClick();
    kv->State.CheckRequested = true;
    kv->Check().RunRequestedCheck();
  };
  check();
  ASSERT_TRUE(ticked);
  EXPECT_EQ(mailbox.Sessions(), 1);
  ASSERT_EQ(kv->VTree1.RootNodeCount(), kv->MessageList1.Count());
  for (const auto& row : kv->VTree1.rows())
    EXPECT_NE(kv->View().messageOf(row), nullptr);
}

// Cancel during a DELE that the server then refuses: the refusal must not
// end the session with QUIT, which would make the DELEs before it final.
TEST_F(SessionOwnershipTest, CancelDuringARefusedDeleLeavesEveryMessage) {
  mailbox.mailbox = MixedMailbox(6);  // s3 s6
  check();
  const auto before = mailbox.Ids();
  mailbox.slowReplies = true;
  int deleLines = 0;
  mailbox.onCommand = [&](const std::string& line) {
    if (line.rfind("DELE", 0) == 0 && ++deleLines == 2) mailbox.errOn = mailbox.Commands();
  };
  pump.onCall = [&](int) {
    if (deleLines == 2 && !kv->Pop3Client1.Aborted) kv->BtCancelClick();
  };
  kv->btDeleteClick(app::kTagSpamDelete);
  pump.onCall = nullptr;
  ASSERT_EQ(deleLines, 2);
  ASSERT_EQ(mailbox.Deles().size(), 1u) << "the first DELE was accepted";
  check();
  EXPECT_EQ(mailbox.Ids(), before);
}

// Exit while a DELE is awaited: the window goes before the deletion has
// settled its Cancel, and must not end the session with QUIT.
TEST_F(SessionOwnershipTest, ExitDuringTheDeletionLeavesEveryMessage) {
  mailbox.mailbox = MixedMailbox(6);
  check();
  const auto before = mailbox.Ids();
  mailbox.slowReplies = true;
  bool closed = false;
  pump.onCall = [&](int) {
    if (closed || mailbox.Deles().empty()) return;
    closed = true;
    kv->Check().btCloseClick();
    kv->FormDestroy();
  };
  kv->btDeleteClick(app::kTagSpamDelete);
  pump.onCall = nullptr;
  ASSERT_TRUE(closed);
  EXPECT_EQ(mailbox.Ids(), before);
}

std::vector<std::string> commandsAfter(const std::vector<std::string>& log,
                                       const std::string& prefix) {
  auto at = std::find_if(log.rbegin(), log.rend(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  return std::vector<std::string>(at.base(), log.end());
}

// Cancel while the check waits for a reply: the reply is still read, the
// RSET follows it, and the check ends without waiting for a time-out.
TEST_F(SessionOwnershipTest, CancelDuringTheHeaderWaitResetsOnceTheReplyIsRead) {
  mailbox.mailbox = MixedMailbox(4);
  mailbox.slowReplies = true;
  std::vector<std::string> statuses;
  kv->dfsStatus.changed().add([&](int panel) {
    if (panel == 0) statuses.push_back(status());
  });
  bool cancelled = false;
  pump.onCall = [&](int) {
    if (!cancelled && !mailbox.Log().empty() && mailbox.Log().back() == "TOP 2 0") {
      cancelled = true;
      kv->BtCancelClick();
    }
  };
  check();
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(commandsAfter(mailbox.Log(), "TOP 2 0"),
            (std::vector<std::string>{"UIDL 2", "RSET", "QUIT"}));
  for (const auto& text : statuses)
    EXPECT_EQ(text.find("Timeout"), std::string::npos) << text;
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 1u) << "the message fetched before the Cancel";
  EXPECT_FALSE(kv->State.CheckInProgress);
}

// Cancel while the check logs in: connecting clears the client's Aborted,
// so the check itself must remember the Cancel and list nothing.
TEST_F(SessionOwnershipTest, CancelDuringTheLoginListsNothing) {
  mailbox.mailbox = MixedMailbox(4);
  mailbox.slowReplies = true;
  bool cancelled = false;
  pump.onCall = [&](int) {
    if (!cancelled && !mailbox.Log().empty() && mailbox.Log().back() == "USER bob") {
      cancelled = true;
      kv->BtCancelClick();
    }
  };
  check();
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(commandsAfter(mailbox.Log(), "USER"),
            (std::vector<std::string>{"PASS secret", "STAT", "LAST", "UIDL", "QUIT"}));
  EXPECT_EQ(status(), "Status: Logged off......");
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 0u);
  EXPECT_FALSE(kv->Pop3Client1.Connected());
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_TRUE(kv->Commands.Enabled("btOpen"));
}

struct BodyCancelCase {
  const char* name;
  bool withUidl;
  int replyPieces;
  // What the client sends after RETR.
  std::vector<std::string> afterRetr;
  // A session without ids stays open for the deletion.
  bool sessionKept;
  friend void PrintTo(const BodyCancelCase& c, std::ostream* os) { *os << c.name; }
};

class BodyCancelTest : public SessionOwnershipTest,
                       public ::testing::WithParamInterface<BodyCancelCase> {};

// Cancel while the body downloads: a whole reply is read and followed by
// RSET; a reply cut short by the Cancel leaves its rest on the connection,
// which then can only be closed, without another command.
TEST_P(BodyCancelTest, CancelDuringTheDownloadLeavesTheSessionUsableOrClosed) {
  const BodyCancelCase& c = GetParam();
  mailbox.mailbox = MixedMailbox(6);
  mailbox.withUidl = c.withUidl;
  check();
  kv->VTree1.selectOnly(0);
  mailbox.slowReplies = true;
  mailbox.replyPieces = c.replyPieces;
  std::vector<std::string> statuses;
  kv->dfsStatus.changed().add([&](int panel) {
    if (panel == 0) statuses.push_back(status());
  });
  bool cancelled = false;
  pump.onCall = [&](int) {
    if (!cancelled && !mailbox.Log().empty() && mailbox.Log().back().rfind("RETR", 0) == 0) {
      cancelled = true;
      kv->BtCancelClick();
    }
  };
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  pump.onCall = nullptr;
  ASSERT_TRUE(cancelled);
  EXPECT_TRUE(prompter.Boxes().empty());
  EXPECT_EQ(commandsAfter(mailbox.Log(), "RETR"), c.afterRetr);
  for (const auto& text : statuses)
    EXPECT_EQ(text.find("Timeout"), std::string::npos) << text;
  EXPECT_TRUE(static_cast<bool>(kv->Pop3Client1.OnAfterRetrieve));
  EXPECT_FALSE(static_cast<bool>(kv->Pop3Client1.OnRetrieveProgress));
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_EQ(kv->Pop3Client1.Connected(), c.sessionKept);
  if (c.withUidl) return;

  // The deletion uses the held session, or refuses when it is gone.
  mailbox.replyPieces = 1;
  kv->btDeleteClick(app::kTagSpamDelete);
  if (c.sessionKept) {
    EXPECT_EQ(deleIds(), (std::vector<std::string>{"s3", "s6"}));
  } else {
    EXPECT_TRUE(mailbox.Deles().empty());
    ASSERT_EQ(prompter.Boxes().size(), 1u);
    EXPECT_EQ(prompter.Boxes()[0].Text, "Not UIDcapable - Disconnected\rLogin to Delete");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BodyCancelTest,
    ::testing::Values(BodyCancelCase{"WholeReply", true, 1, {"UIDL 3", "RSET", "QUIT"}, false},
                      BodyCancelCase{"ReplyCutShort", true, 3, {}, false},
                      BodyCancelCase{"HeldSessionWholeReply", false, 1, {"RSET"}, true},
                      BodyCancelCase{"HeldSessionReplyCutShort", false, 3, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::test
