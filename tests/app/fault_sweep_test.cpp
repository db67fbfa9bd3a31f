// A check followed by the spam deletion, against a mailbox server that fails
// in every possible place: the connection drops at the k-th command, or the
// k-th command is refused, for every k; and the user cancels at the k-th
// pump of the deletion. Whatever happens: nothing crashes, no valid message
// is deleted, no DELE names another message than a marked one, and a
// cancelled deletion deletes nothing.

#include <gtest/gtest.h>

#include <cctype>

#include "app/app_fixture.h"
#include "app/command_model.h"
#include "app/deletion.h"
#include "app/message_view_handlers.h"

namespace kelvrin::test {
namespace {

class FaultSweep : public AppFixture {
 protected:
  FaultSweep() : AppFixture(/*useMailbox=*/true) {}

  void reset(bool withUidl, bool slow) {
    kv.reset();
    mailbox = MailboxPop3(clock);
    mailbox.listing = listing;
    mailbox.spamSharesValidId = spamSharesValidId;
    mailbox.mailbox = MixedMailbox(7);
    mailbox.withUidl = withUidl;
    mailbox.slowReplies = slow;
    pump.calls = 0;
    pump.onCall = nullptr;
    makeApp();
  }

  void checkAndDelete() {
    check();
    kv->btDeleteClick(app::kTagSpamDelete);
    // A later check quits any session still held, making its DELEs final.
    check();
  }

  // Every message that is gone was spam, and every DELE named a spam message.
  void expectOnlySpamTouched(const std::string& context) {
    for (const auto& m : MixedMailbox(7)) {
      if (!m.spam) {
        EXPECT_TRUE(mailbox.Ids().count(m.id)) << context << ": valid " << m.id << " deleted";
      }
    }
    for (const auto& d : mailbox.Deles()) {
      if (!d.id.empty()) {
        EXPECT_EQ(d.id[0], 's') << context << ": DELE " << d.position << " named " << d.id;
      }
    }
    EXPECT_FALSE(kv->State.CheckInProgress) << context;
    EXPECT_EQ(kv->VTree1.UpdateCount(), 0) << context << ": an update bracket was left open";
  }

  // Every listing variant, on its own and with an id two messages share.
  template <typename Body>
  void forEachListing(Body body) {
    using L = MailboxPop3::Listing;
    for (L variant : {L::InOrder, L::Reversed, L::FirstLeftOut, L::NumberTwice}) {
      for (bool shared : {false, true}) {
        listing = variant;
        spamSharesValidId = shared;
        body("listing " + std::to_string(static_cast<int>(variant)) +
             (shared ? ", shared id" : ""));
      }
    }
    listing = MailboxPop3::Listing::InOrder;
    spamSharesValidId = false;
  }

  MailboxPop3::Listing listing = MailboxPop3::Listing::InOrder;
  bool spamSharesValidId = false;
};

TEST_F(FaultSweep, FaultFreeRunDeletesExactlyTheSpam) {
  for (bool withUidl : {true, false}) {
    reset(withUidl, false);
    checkAndDelete();
    EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1", "v2", "v4", "v5", "v7"}))
        << (withUidl ? "with ids" : "without ids");
    EXPECT_EQ(kv->Delete().Deleted().size(), 2u);
  }
}

TEST_F(FaultSweep, ConnectionDroppedAtEveryCommand) {
  for (bool withUidl : {true, false}) {
    reset(withUidl, false);
    checkAndDelete();
    const int total = mailbox.Commands();
    ASSERT_GT(total, 20);
    for (int k = 1; k <= total + 1; ++k) {
      reset(withUidl, false);
      mailbox.dropAfter = k;
      checkAndDelete();
      expectOnlySpamTouched(std::string(withUidl ? "ids" : "no ids") + ", drop at " +
                            std::to_string(k));
    }
  }
}

TEST_F(FaultSweep, RefusalOfEveryCommand) {
  for (bool withUidl : {true, false}) {
    reset(withUidl, false);
    checkAndDelete();
    const int total = mailbox.Commands();
    for (int k = 1; k <= total + 1; ++k) {
      reset(withUidl, false);
      mailbox.errOn = k;
      checkAndDelete();
      expectOnlySpamTouched(std::string(withUidl ? "ids" : "no ids") + ", -ERR at " +
                            std::to_string(k));
    }
  }
}

// Listings in another order, with a gap, with a number twice, and with an
// id that two messages share: each line still names its message, so only
// the spam may go, and never by an id that names two messages.
TEST_F(FaultSweep, ListingsOutOfOrderWithGapsAndDuplicates) {
  forEachListing([&](const std::string& variant) {
    reset(true, false);
    checkAndDelete();
    expectOnlySpamTouched(variant);
    const bool unusable = listing == MailboxPop3::Listing::NumberTwice;
    for (const auto& d : mailbox.Deles()) {
      EXPECT_FALSE(unusable) << variant << ": DELE " << d.position << " by an unusable listing";
      EXPECT_FALSE(spamSharesValidId && d.id == "s3") << variant << ": DELE by a shared id";
    }
    if (listing == MailboxPop3::Listing::InOrder || listing == MailboxPop3::Listing::Reversed) {
      // s3 is the first spam: with a shared id only s6 can go.
      EXPECT_EQ(mailbox.Ids().count("s6"), 0u) << variant;
      EXPECT_EQ(mailbox.Ids().count("s3"), spamSharesValidId ? 1u : 0u) << variant;
    }
  });
}

TEST_F(FaultSweep, OddListingsWithTheConnectionDroppedOrACommandRefusedAnywhere) {
  forEachListing([&](const std::string& variant) {
    reset(true, false);
    checkAndDelete();
    const int total = mailbox.Commands();
    for (int k = 1; k <= total + 1; ++k) {
      reset(true, false);
      mailbox.dropAfter = k;
      checkAndDelete();
      expectOnlySpamTouched(variant + ", drop at " + std::to_string(k));
      reset(true, false);
      mailbox.errOn = k;
      checkAndDelete();
      expectOnlySpamTouched(variant + ", -ERR at " + std::to_string(k));
    }
  });
}

// A server that sends more than was asked: after the reply to each kind of
// command comes a line that looks like a reply of its own, naming a valid
// message's id (a forged id must never become a spam row's), a refusal, or
// a whole listing.
TEST_F(FaultSweep, UnsolicitedLinesAfterEveryKindOfReply) {
  const std::vector<std::string> kinds = {"",       "USER",   "PASS",   "STAT",  "LAST",
                                          "UIDL",   "UIDL n", "LIST n", "TOP n", "RETR n",
                                          "DELE n", "RSET",   "NOOP",   "QUIT"};
  const std::vector<std::string> forgeries = {"+OK {n} v1", "+OK 1 v1", "-ERR forged",
                                              "+OK\r\n1 v1\r\n2 v2\r\n3 v1\r\n."};
  for (bool withUidl : {true, false}) {
    for (const std::string& kind : kinds) {
      for (const std::string& forged : forgeries) {
        reset(withUidl, false);
        int sent = 0;
        mailbox.unsolicitedAfter = [&](const std::string& command) -> std::string {
          const std::size_t blank = command.find(' ');
          const std::string verb = command.substr(0, blank);
          const bool numbered = blank != std::string::npos && blank + 1 < command.size() &&
                                std::isdigit(static_cast<unsigned char>(command[blank + 1]));
          if ((numbered ? verb + " n" : verb) != kind) return {};
          ++sent;
          std::string text = forged;
          const std::size_t at = text.find("{n}");
          if (at != std::string::npos) {
            text.replace(at, 3,
                         numbered
                             ? command.substr(blank + 1, command.find(' ', blank + 1) - blank - 1)
                             : "1");
          }
          return text;
        };
        checkAndDelete();
        const std::string context = std::string(withUidl ? "ids" : "no ids") + ", after " +
                                    (kind.empty() ? "the greeting" : kind) + ": " + forged;
        expectOnlySpamTouched(context);
        for (const auto& row : kv->VTree1.rows()) {
          if (row.Node.UIDL == "v1") {
            EXPECT_EQ(kv->View().messageOf(row)->Subject, "message v1")
                << context << ": a forged id became another message's";
          }
        }
        if (kind == "RETR n" || kind == "RSET" || kind == "NOOP") continue;  // not in this dialogue
        if (!withUidl && kind == "UIDL n") continue;
        EXPECT_GT(sent, 0) << context << ": the dialogue has no such reply";
      }
    }
  }
}

TEST_F(FaultSweep, CancelAtEveryPumpOfTheDeletionLeavesEveryMessage) {
  for (bool withUidl : {true, false}) {
    // Count the pumps a deletion makes while it runs.
    reset(withUidl, true);
    check();
    int pumpsInDeletion = 0;
    pump.onCall = [&](int) { pumpsInDeletion += kv->Delete().Running() ? 1 : 0; };
    kv->btDeleteClick(app::kTagSpamDelete);
    ASSERT_GT(pumpsInDeletion, 3);

    for (int k = 1; k <= pumpsInDeletion; ++k) {
      const std::string context =
          std::string(withUidl ? "ids" : "no ids") + ", cancel at pump " + std::to_string(k);
      reset(withUidl, true);
      check();
      const auto before = mailbox.Ids();
      int seen = 0;
      pump.onCall = [&](int) {
        if (kv->Delete().Running() && ++seen == k) kv->BtCancelClick();
      };
      kv->btDeleteClick(app::kTagSpamDelete);
      pump.onCall = nullptr;
      EXPECT_FALSE(kv->State.CheckInProgress) << context;
      EXPECT_EQ(kv->VTree1.RootNodeCount(), 7u) << context << ": the rows stay";
      check();  // quits whatever session is left
      EXPECT_EQ(mailbox.Ids(), before) << context;
    }
  }
}

TEST_F(FaultSweep, AutomaticDeletionDoesNotLoopOnAServerThatRefusesDele) {
  reset(true, false);
  mailbox.refuseDele = true;
  kv->KVmain->setChecked("NonInterDel1", true);
  check();
  EXPECT_EQ(mailbox.Deles().size(), 1u) << "one attempt, stopped at the refusal";
  // Timed checks of the same mailbox do not try again.
  for (int i = 0; i < 5; ++i)
    kv->Check().RunRequestedCheck();
  EXPECT_EQ(mailbox.Deles().size(), 1u);
  EXPECT_EQ(mailbox.Sessions(), 7);
  // The user's own Check lets it try once more.
  check();
  EXPECT_EQ(mailbox.Deles().size(), 2u);
  EXPECT_EQ(mailbox.Ids().size(), 7u);
}

TEST_F(FaultSweep, AutomaticDeletionDoesNotLoopOnAServerThatIgnoresDele) {
  reset(true, false);
  mailbox.ignoreDele = true;
  kv->KVmain->setChecked("NonInterDel1", true);
  check();
  // check, deletion (both spam), the deletion's check — and no more.
  EXPECT_EQ(mailbox.Deles().size(), 2u);
  EXPECT_EQ(mailbox.Sessions(), 3);
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 7u);
}

TEST_F(FaultSweep, AutomaticDeletionRunsAfterTheCheckAndAgainForNewSpam) {
  reset(true, false);
  kv->KVmain->setChecked("NonInterDel1", true);
  check();
  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1", "v2", "v4", "v5", "v7"}));
  EXPECT_EQ(status(), "Status: Received maildrop info");
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 5u);
  // New spam arrives: the next timed check deletes it too.
  auto more = MixedMailbox(9);
  mailbox.mailbox.push_back(more[8]);
  kv->Check().RunRequestedCheck();
  EXPECT_FALSE(mailbox.Ids().count("s9"));
}

TEST_F(FaultSweep, CancelledCheckDoesNotStartTheAutomaticDeletion) {
  reset(true, false);
  kv->KVmain->setChecked("NonInterDel1", true);
  kv->Pop3Client1.OnAfterRetrieve = [this](protocols::TPop3Client&) { kv->BtCancelClick(); };
  // Cancelled after the third message (a spam one): nothing may be deleted.
  mailbox.mailbox = MixedMailbox(7);
  std::rotate(mailbox.mailbox.begin(), mailbox.mailbox.begin() + 2, mailbox.mailbox.end());
  check();
  EXPECT_TRUE(mailbox.Deles().empty());
}

}  // namespace
}  // namespace kelvrin::test
