// The check from the session to the scored list, against exact dialogues.

#include "app/check_cycle.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "app/app_fixture.h"
#include "app/deletion.h"
#include "settings/forms.h"

namespace kelvrin::test {
namespace {

using CheckCycleTest = AppFixture;

TEST_F(CheckCycleTest, CheckOnAServerWithIdsListsScoresAndQuits) {
  const std::vector<ScriptMessage> box = {ValidMessage(1, "u1"), SpamMessage(2, "u2"),
                                          ValidMessage(3, "u3")};
  script.AddSession(CheckSession(box, true));
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(script.SessionCommands(0).back(), "QUIT");
  EXPECT_FALSE(kv->Pop3Client1.Connected());
  EXPECT_EQ(status(), "Status: Received maildrop info");
  EXPECT_EQ(levelsInViewOrder(), (std::vector<int>{10, 0, 0}));
  EXPECT_EQ(markedIndexes(), (std::vector<int>{1}));
  EXPECT_TRUE(kv->State.UIDLCapable);
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_EQ(kv->State.ValidCount, 2);
  EXPECT_EQ(kv->State.SpamCount, 1);
  EXPECT_EQ(kv->State.LastListedCount, 3);
  EXPECT_EQ(kv->State.PrevValidCount, 2);
  EXPECT_EQ(kv->dfsStatus.Panel(1), "Messages: 3");
  EXPECT_TRUE(kv->Check().LastOutcome().Completed);
  // New valid mail: the tray cycles its picture of state 2.
  EXPECT_EQ(kv->TrayIcon1.IconList(), 2);
  EXPECT_TRUE(kv->Commands.Enabled("BtDelete"));
  EXPECT_FALSE(kv->Commands.Enabled("BtCancel"));
  EXPECT_TRUE(kv->ETimer1.Enabled());
  EXPECT_EQ(kv->ETimer1.Interval(), 3000);
}

// The window redraws its busy state and counts from these announcements
// alone: it must hear the busy flag go up and down and see the final counts.
TEST_F(CheckCycleTest, StateAnnouncesTheBusyFlagAndTheFinalCounts) {
  script.AddSession(CheckSession({ValidMessage(1, "u1"), SpamMessage(2, "u2")}, true));
  std::vector<bool> busy{false};
  std::vector<int> validSeen;
  kv->State.Changed.add([&] {
    if (busy.empty() || busy.back() != kv->State.CheckInProgress)
      busy.push_back(kv->State.CheckInProgress);
    validSeen.push_back(kv->State.ValidCount);
  });
  check();
  EXPECT_EQ(busy, (std::vector<bool>{false, true, false}));
  ASSERT_FALSE(validSeen.empty());
  EXPECT_EQ(validSeen.back(), 1);
}

TEST_F(CheckCycleTest, ServerWithoutIdsKeepsTheSessionOpen) {
  script.AddSession(CheckSession({SpamMessage(1), ValidMessage(2)}, false));
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_TRUE(kv->Pop3Client1.Connected());
  EXPECT_FALSE(kv->State.UIDLCapable);
  EXPECT_EQ(markedIndexes(), (std::vector<int>{0}));
}

TEST_F(CheckCycleTest, NextCheckQuitsTheHeldSessionBeforeConnecting) {
  script.AddSession(CheckSession({SpamMessage(1)}, false));
  script.AddSession(CheckSession({SpamMessage(1)}, false));
  check();
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(script.SessionCommands(0).back(), "QUIT");
}

TEST_F(CheckCycleTest, EmptyMailboxLogsOff) {
  script.AddSession(Join({LoginSteps(), StatSteps({}, true), QuitSteps()}));
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(status(), "Status: Logged off......");
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 0u);
  EXPECT_FALSE(kv->Commands.Enabled("BtDelete"));
  EXPECT_TRUE(kv->Check().LastOutcome().Completed);
  EXPECT_EQ(kv->TrayIcon1.IconList(), 0);
}

TEST_F(CheckCycleTest, RefusedLoginShowsUsernamePasswordError) {
  script.AddSession({"S: +OK ready", "C: USER bob", "S: -ERR no such user"});
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(status(), "Status: Username/Password error");
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_FALSE(kv->Check().LastOutcome().Completed);
  EXPECT_TRUE(kv->Commands.Enabled("btOpen"));
}

TEST_F(CheckCycleTest, ThreeRefusedConnectionsShowUnableConnect) {
  check();  // no session in the script: every connect is refused
  EXPECT_EQ(status(), "Status: Unable connect...");
  EXPECT_EQ(kv->TrayIcon1.IconList(), 0);
  EXPECT_EQ(kv->TrayIcon1.IconIndex(), 0) << "window hidden: the online picture";
  EXPECT_FALSE(kv->State.CheckInProgress);
}

TEST_F(CheckCycleTest, BrokenConnectionDuringTheFetchShowsTheFailure) {
  auto steps = Join({LoginSteps(),
                     StatSteps({ValidMessage(1, "a"), ValidMessage(2, "b")}, true),
                     {"C: LIST 1", "S: +OK 1 300", "X:"}});
  script.AddSession(steps);
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(status().rfind("Status: ", 0), 0u);
  EXPECT_LE(status().size(), 58u);
  EXPECT_NE(status(), "Status: Received maildrop info");
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 0u);
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_EQ(kv->State.TrayResultShown, 0);
}

TEST_F(CheckCycleTest, MessageWhoseHeaderWasRefusedIsNeverMarked) {
  const auto v1 = ValidMessage(1, "a");
  const auto v2 = ValidMessage(2, "b");
  auto steps = Join({LoginSteps(),
                     StatSteps({v1, v2}, true),
                     {"C: LIST 1", "S: +OK 1 300", "C: TOP 1 0", "S: -ERR cannot read it"}});
  auto second = RetrieveSteps({v1, v2}, true);
  second.erase(second.begin(), second.begin() + static_cast<long>(second.size() / 2));
  steps.insert(steps.end(), second.begin(), second.end());
  script.AddSession(steps);
  kv->lbBanSubject->Add("viagra");
  kv->lbBanSubject->Add("cheap meds");
  check();
  EXPECT_TRUE(script.Finished());
  ASSERT_EQ(kv->VTree1.RootNodeCount(), 2u);
  // The empty record scores like a message without subject or recipients.
  EXPECT_EQ(levelsInViewOrder(), (std::vector<int>{10, 0}));
  EXPECT_TRUE(markedIndexes().empty());
}

TEST_F(CheckCycleTest, SecondaryAccountIsUsedWhenChosenAndFilledIn) {
  kv->KVWForm1->setText("KVWsecEdhost", "pop.other.example.net");
  kv->KVWForm1->setText("KVWsecedUser", "alice");
  kv->KVWForm1->setText("KVWSecEdPassword", "pw2");
  kv->Check().PaccountClick();
  ASSERT_FALSE(kv->KVmain->checked("Paccount"));
  ASSERT_TRUE(kv->KVmain->checked("SecAccount"));
  std::vector<std::string> seen;
  kv->dfsStatus.changed().add([&](int panel) {
    if (panel == 0) seen.push_back(kv->dfsStatus.Status());
  });
  script.AddSession(Join({LoginSteps("alice", "pw2"), StatSteps({}, true), QuitSteps()}));
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_NE(std::find(seen.begin(), seen.end(), "Status: Connected to other.example.net"),
            seen.end());
  EXPECT_EQ(kv->Pop3Client1.Host, "pop.other.example.net");
}

TEST_F(CheckCycleTest, SecondaryChosenWithoutHostUsesThePrimaryAndSaysConnected) {
  kv->Check().PaccountClick();
  std::vector<std::string> seen;
  kv->dfsStatus.changed().add([&](int panel) {
    if (panel == 0) seen.push_back(kv->dfsStatus.Status());
  });
  script.AddSession(Join({LoginSteps("bob", "secret"), StatSteps({}, true), QuitSteps()}));
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_NE(std::find(seen.begin(), seen.end(), "Status: Connected......"), seen.end());
}

TEST_F(CheckCycleTest, ClickingTheCheckedAccountSwitchesToTheOther) {
  kv->Check().PaccountClick();
  kv->Check().PaccountClick();
  EXPECT_TRUE(kv->KVmain->checked("Paccount"));
  EXPECT_FALSE(kv->KVmain->checked("SecAccount"));
  EXPECT_TRUE(kv->Commands.Checked("Paccount"));
}

class CountingVersionCheck final : public app::VersionCheck {
 public:
  explicit CountingVersionCheck(int& calls) : calls_(calls) {}
  void Check4NewVersion() override { ++calls_; }

 private:
  int& calls_;
};

TEST_F(CheckCycleTest, TenthCheckWithAutoUpdateIsAVersionCheckOnce) {
  int versionChecks = 0;
  kv->setVersionCheck(std::make_unique<CountingVersionCheck>(versionChecks));
  kv->KVmain->setChecked("AutoUpdate1", true);
  for (int i = 0; i < 11; ++i) {
    if (i == 9) {
      // The version check replaces the listing; its session stays open.
      script.AddSession(Join({LoginSteps(), StatSteps({ValidMessage(1, "v")}, true)}));
    } else {
      script.AddSession(CheckSession({ValidMessage(1, "v")}, true));
    }
  }
  for (int i = 0; i < 9; ++i)
    check();
  EXPECT_EQ(versionChecks, 0);
  check();
  EXPECT_EQ(versionChecks, 1);
  EXPECT_EQ(status(), "Status: Check for Update...");
  check();
  EXPECT_EQ(versionChecks, 1);
  EXPECT_EQ(status(), "Status: Received maildrop info");
  EXPECT_TRUE(script.Finished());
}

TEST_F(CheckCycleTest, PlaceholderAddressRefusesTheCheck) {
  kv->KVWForm1->setText("KVWMainEmail1", std::string(settings::kPlaceholderMainEmail));
  kv->btOpenClick();
  EXPECT_FALSE(kv->State.CheckRequested);
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "Incorrect main email address\rOptions, item 1 please enter");
}

// The button pauses before it requests; the command line, which has no
// button, requests at once, with the same refusal of the placeholder.
TEST_F(CheckCycleTest, OnlyAClickedButtonPausesBeforeTheRequest) {
  for (const bool clicked : {true, false}) {
    kv->State.CheckRequested = false;
    const std::int64_t before = clock.now;
    clicked ? kv->btOpenClick() : kv->RequestCheckWithoutClick();
    EXPECT_TRUE(kv->State.CheckRequested) << clicked;
    EXPECT_EQ(clock.now - before, clicked ? 100 : 0) << clicked;
  }
  kv->State.CheckRequested = false;
  kv->KVWForm1->setText("KVWMainEmail1", std::string(settings::kPlaceholderMainEmail));
  kv->RequestCheckWithoutClick();
  EXPECT_FALSE(kv->State.CheckRequested);
  EXPECT_EQ(prompter.Boxes().size(), 1u);
}

TEST_F(CheckCycleTest, OfflineOrEmptyHostStartsNothing) {
  kv->State.OnlineState = 0;
  check();
  EXPECT_FALSE(kv->Check().LastOutcome().Started);
  kv->State.OnlineState = 1;
  kv->KVWForm1->setText("KVWEdhost", "");
  check();
  EXPECT_FALSE(kv->Check().LastOutcome().Started);
  EXPECT_EQ(script.SessionsOpened(), 0);
}

TEST_F(CheckCycleTest, CancelDuringTheFetchStopsAndSendsRset) {
  const std::vector<ScriptMessage> box = {ValidMessage(1, "a"), ValidMessage(2, "b"),
                                          ValidMessage(3, "c")};
  auto steps = Join(
      {LoginSteps(), StatSteps(box, true), RetrieveSteps({box[0]}, true), {"C: RSET", "S: +OK"}});
  script.AddSession(steps);
  // The first pump after a fetched message is where Cancel takes effect.
  kv->Pop3Client1.OnAfterRetrieve = [this](protocols::TPop3Client&) { kv->BtCancelClick(); };
  check();
  EXPECT_TRUE(script.Finished());
  EXPECT_FALSE(kv->Commands.Enabled("BtCancel"));
}

TEST_F(CheckCycleTest, AfterRetrieveGaugeRunsFromZeroToHundred) {
  const std::vector<ScriptMessage> box = {ValidMessage(1, "a"), ValidMessage(2, "b"),
                                          ValidMessage(3, "c"), ValidMessage(4, "d"),
                                          ValidMessage(5, "e")};
  script.AddSession(CheckSession(box, true));
  std::vector<int> gauges;
  kv->Pop3Client1.OnAfterRetrieve = [&](protocols::TPop3Client&) {
    kv->Check().Pop3Client1AfterRetrieve();
    gauges.push_back(kv->dfsStatus.Gauge());
  };
  check();
  EXPECT_EQ(gauges, (std::vector<int>{0, 25, 50, 75, 100}));
}

TEST_F(CheckCycleTest, MessagesOfTheLastCheckAreReleasedByTheNextOne) {
  std::vector<ScriptMessage> box;
  for (int i = 0; i < 20; ++i)
    box.push_back(ValidMessage(i, "id" + std::to_string(i)));
  for (int round = 0; round < 5; ++round)
    script.AddSession(CheckSession(box, true));
  for (int round = 0; round < 5; ++round) {
    check();
    EXPECT_EQ(kv->Pop3Client1.Messages().OwnedCount(), 20u) << "round " << round;
  }
  EXPECT_TRUE(script.Finished());
}

TEST_F(CheckCycleTest, StatusChangesAreMirroredIntoTheTrayHint) {
  kv->dfsStatus.setStatus("Status: Testing");
  EXPECT_EQ(kv->TrayIcon1.Hint(), kv->State.TitleText + " Status: Testing");
  EXPECT_EQ(kv->State.TitleText.rfind("Kelvrinate V", 0), 0u);
}

// A connect that never completes: it waits, letting the caller run between
// its slices, until the caller gives it up (or a thousand slices pass).
class HangingConnect final : public protocols::Socket {
 public:
  explicit HangingConnect(int& opens) : opens_(opens) {}
  bool IsConnected() const override { return false; }
  bool IsTls() const override { return false; }
  std::string LocalHostName() const override { return "testhost"; }
  std::string LocalAddress() const override { return ""; }
  std::string PeerAddress() const override { return ""; }

 protected:
  void doOpen(int) override {
    ++opens_;
    notifyLookup();
    notifyConnecting();
    for (int slice = 0; slice < 1000; ++slice) {
      if (!keepWaiting()) throw protocols::SocketError("Cancelled (connect)", ECANCELED, "connect");
    }
    throw protocols::SocketError("Connection timed out", ETIMEDOUT, "connect");
  }
  void doStartTls(int) override {}
  void doSend(std::string_view) override {}
  bool doWaitReadable(int) override { return false; }
  std::size_t doReceive(char*, std::size_t) override { return 0; }
  bool doClose() override { return false; }

 private:
  int& opens_;
};

TEST_F(CheckCycleTest, CancelWhileConnectingEndsEveryAttempt) {
  int opens = 0;
  socketFactory = [&] { return std::make_unique<HangingConnect>(opens); };
  makeApp();
  // Cancel at the first event the hanging connect lets run.
  bool cancelled = false;
  pump.onCall = [&](int) {
    if (opens == 1 && !cancelled) {
      cancelled = true;
      kv->BtCancelClick();
    }
  };
  check();
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(opens, 1) << "the attempts after the Cancel were not made";
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 0u);
}

class CheckCycleMailboxTest : public AppFixture {
 protected:
  CheckCycleMailboxTest() : AppFixture(/*useMailbox=*/true) {}
};

TEST_F(CheckCycleMailboxTest, AMailboxBeyondTheMessageNumbersSaysWhatIsLeftOut) {
  for (const long long count : {65535LL, 65536LL, 70000LL}) {
    mailbox = MailboxPop3(clock);
    mailbox.mailbox = MixedMailbox(2);
    mailbox.statCount = count;
    kv->dfsStatus.setPanel(2, "");
    check();
    const std::string& note = kv->dfsStatus.Panel(2);
    if (count <= 65535) {
      EXPECT_EQ(note, "") << count;
    } else {
      EXPECT_EQ(note, "The mailbox holds " + std::to_string(count) +
                          " messages; only the first 65535 are worked.");
    }
  }
}

}  // namespace
}  // namespace kelvrin::test

namespace kelvrin::test {
namespace {

// The pauses of a check end with their reason: a connect that succeeded
// needs no pause before a next attempt, and a Cancel ends the one between
// attempts. Between failed attempts the pause stays, and the window is
// served every pump interval throughout.
TEST_F(CheckCycleTest, ConnectPausesEndWithTheirReason) {
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  std::int64_t before = clock.now;
  kv->Check().RunRequestedCheck();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(clock.now - before, 0) << "a check that connected at once slept";

  before = clock.now;
  pump.calls = 0;
  kv->Check().RunRequestedCheck();  // every connect is refused
  EXPECT_EQ(status(), "Status: Unable connect...");
  EXPECT_EQ(clock.now - before, 300);
  EXPECT_GE(pump.calls, 3) << "the pauses must let the window work";

  before = clock.now;
  pump.onCall = [this](int) { kv->BtCancelClick(); };
  kv->Check().RunRequestedCheck();
  EXPECT_LT(clock.now - before, 300) << "a Cancel ends the pause and the attempts";
}

TEST_F(CheckCycleTest, DelayEndsWhenItsReasonIsGone) {
  pump.calls = 0;
  std::int64_t before = clock.now;
  kv->Check().Delay(100);
  EXPECT_EQ(clock.now - before, 100);
  EXPECT_EQ(pump.calls, 5) << "events run every 20 ms of waiting";
  before = clock.now;
  int asked = 0;
  kv->Check().Delay(100, [&] { return ++asked > 2; });
  EXPECT_EQ(clock.now - before, 40) << "the reason is asked after every slice of 20 ms";
  before = clock.now;
  kv->Check().Delay(250);
  EXPECT_EQ(clock.now - before, 250);
  EXPECT_EQ(pump.calls, 5 + 2 + 12);
}

}  // namespace
}  // namespace kelvrin::test
