// The main window's dial-up: which entry is dialled, the progress texts, the
// check that follows the connection, and the hang-up rules, over a fake
// Dialer and HostInfo. The wait runs on its worker thread as in the program.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "app/app_fixture.h"
#include "app/body_display.h"
#include "app/check_cycle.h"
#include "app/status_bar.h"
#include "net/dial_texts.h"
#include "net/dial_up_part.h"
#include "net/net_doubles.h"
#include "outgoing/sys_messages.h"

namespace kelvrin::test {
namespace {

class DialUpTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    auto& wizard = *kv->KVWForm1;
    wizard.setValue("KVWccntypeGroup", 1);
    wizard.setText("KVWServiceComboBox", "Mobile");
    wizard.setChecked("Hangup1", true);
    auto owned = std::make_unique<net::DialUpPart>(*kv, host, dialer);
    part = owned.get();
    kv->setDialUp(std::move(owned));
    part->ConnectionTypeChanged(1);
  }
  // Lets the user-interface side run until the wait has ended.
  void settle() {
    for (int i = 0; i < 5000 && part->msRas1.Dialling(); ++i) {
      part->Poll(clock.now);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(part->msRas1.Dialling()) << "the wait did not end";
  }
  // The platform connects the call and gives it an address.
  void connectCall() {
    part->Poll(clock.now);
    dialer.Events->dialProgress(net::DialProgress::Dialing);
    dialer.Events->dialProgress(net::DialProgress::Connected);
    settle();
    host.Address = "10.64.0.2";
    host.Status = net::DialUpStatus::Up;
    clock.now += 1000;
    part->Poll(clock.now);
  }

  // The line of the call drops and the detector sees it go.
  void dropLine() {
    dialer.Events->dialDropped();
    host.Address.clear();
    host.Status = net::DialUpStatus::Down;
    clock.now += 1000;
    part->Poll(clock.now);
  }
  // The platform answers the next call on the third pump while it dials,
  // connected or failed; sessionsWhileDown gets how many sessions had been
  // opened since sessionsBefore by then.
  void answerTheNextCall(bool comesUp, int sessionsBefore, int& sessionsWhileDown) {
    answerIn_ = 3;
    pump.onCall = [this, comesUp, sessionsBefore, &sessionsWhileDown](int) {
      if (part->msRas1.Dialling() && --answerIn_ == 0) {
        sessionsWhileDown = script.SessionsOpened() - sessionsBefore;
        if (comesUp) {
          dialer.Events->dialProgress(net::DialProgress::Connected);
        } else {
          dialer.Events->dialError(10, "The login failed");
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
  }

  FakeHostInfo host;
  FakeDialer dialer;
  net::DialUpPart* part = nullptr;
  int answerIn_ = 0;
};

TEST_F(DialUpTest, DialledCallStartsTheCheckOnTheConnectionEvent) {
  ASSERT_EQ(kv->State.OnlineState, 0);
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  part->StartDialler();
  EXPECT_EQ(dialer.Dialled, std::vector<std::string>{"Mobile"});
  EXPECT_EQ(kv->TrayIcon1.Hint(), kv->State.TitleText + " Status: Connecting");
  part->Poll(clock.now);
  dialer.Events->dialProgress(net::DialProgress::Dialing);
  EXPECT_EQ(status(), "Status: Dialing...");
  dialer.Events->dialProgress(net::DialProgress::Connected);
  settle();
  EXPECT_EQ(kv->State.ConnectEventCount, 1);
  EXPECT_EQ(script.SessionsOpened(), 0) << "the check waits for the detector";
  host.Address = "10.64.0.2";
  clock.now += 1000;
  part->Poll(clock.now);
  EXPECT_EQ(kv->State.OnlineState, 1);
  EXPECT_EQ(script.SessionsOpened(), 1);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(kv->State.ValidCount, 1);
  EXPECT_TRUE(part->SystemConnectionUp()) << "mail came: the line stays";
  EXPECT_EQ(dialer.HangUps, 0);
}

struct EntryCase {
  const char* Name;
  bool Primary;
  const char* Secondary;
  const char* Dialled;
};

class DialUpEntryTest : public DialUpTest, public testing::WithParamInterface<EntryCase> {};

TEST_P(DialUpEntryTest, EntryFollowsTheAccountChoice) {
  kv->KVmain->setChecked("Paccount", GetParam().Primary);
  kv->KVWForm1->setText("KVWsecServiceComboBox", GetParam().Secondary);
  part->StartDialler();
  EXPECT_EQ(dialer.Dialled, std::vector<std::string>{GetParam().Dialled});
  part->Cancel();
  settle();
}

INSTANTIATE_TEST_SUITE_P(Accounts, DialUpEntryTest,
                         testing::Values(EntryCase{"PrimaryDespiteSecondary", true, "Work VPN",
                                                   "Mobile"},
                                         EntryCase{"Secondary", false, "Work VPN", "Work VPN"},
                                         EntryCase{"SecondaryWithoutEntry", false, "", "Mobile"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The hang-up rules: after a call the program made and a check, what the
// platform is asked to hang up.
struct HangUpCase {
  const char* Name;
  bool UserConnectedOutside;
  bool Hangup1;
  bool HangupSpam1;
  bool SpamOnly;  // the check finds one spam message, else nothing
  int HangUps;    // platform hang-ups after the check
};

class HangUpRuleTest : public DialUpTest, public testing::WithParamInterface<HangUpCase> {};

TEST_P(HangUpRuleTest, CheckEndHangsUpOnlyWhatTheRulesSay) {
  const auto& c = GetParam();
  kv->KVWForm1->setChecked("Hangup1", c.Hangup1);
  kv->KVWForm1->setChecked("HangupSpam1", c.HangupSpam1);
  if (c.UserConnectedOutside) dialer.UpOutside = "Mobile";
  script.AddSession(c.SpamOnly ? CheckSession({SpamMessage(1, "s1")}, true)
                               : CheckSession({}, true));
  part->StartDialler();
  if (c.UserConnectedOutside) {
    EXPECT_TRUE(dialer.Dialled.empty()) << "the user's call is used as it is";
    host.Address = "10.64.0.2";
    clock.now += 1000;
    part->Poll(clock.now);
  } else {
    connectCall();
  }
  ASSERT_EQ(script.SessionsOpened(), 1);
  EXPECT_EQ(dialer.HangUps, c.HangUps);
  // Disconnect and exit never touch a call the user made.
  part->Disconnect1Click();
  kv->FormDestroy();
  if (c.UserConnectedOutside) {
    EXPECT_EQ(dialer.HangUps, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HangUpRuleTest,
    testing::Values(HangUpCase{"NoTraffic", false, true, false, false, 1},
                    HangUpCase{"NoTrafficRuleOff", false, false, false, false, 0},
                    HangUpCase{"SpamOnlyWithNoTrafficRule", false, true, true, true, 1},
                    HangUpCase{"SpamOnlyAloneKeepsTheLine", false, false, true, true, 0},
                    HangUpCase{"UserCallNeverHungUp", true, true, true, true, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DialUpTest, CancelDuringDiallingHangsUpAndSaysSo) {
  part->StartDialler();
  part->Poll(clock.now);
  ASSERT_TRUE(part->msRas1.Dialling());
  kv->BtCancelClick();
  settle();
  EXPECT_GE(dialer.HangUps, 1);
  EXPECT_EQ(status(), std::string("Status: ") + net::kCancelledText);
  EXPECT_FALSE(part->msRas1.Connected());
  EXPECT_TRUE(kv->Commands.Enabled("btOpen"));
}

TEST_F(DialUpTest, ExitWhileConnectedHangsUp) {
  kv->KVWForm1->setChecked("Hangup1", false);
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  part->StartDialler();
  connectCall();
  ASSERT_EQ(dialer.HangUps, 0);
  kv->FormDestroy();
  EXPECT_EQ(dialer.HangUps, 1);
}

TEST_F(DialUpTest, IdleUserGetsTheCallHungUp) {
  kv->KVWForm1->setValue("IdleSecs1", 60);
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  part->StartDialler();
  connectCall();
  ASSERT_TRUE(kv->SnoozeTimer.Enabled()) << "armed by a check that listed mail online";
  kv->Idle.inputSeen();
  for (int t = 0; t < 60; ++t) {
    clock.now += 1000;
    kv->SnoozeTimerTimer();
  }
  EXPECT_EQ(dialer.HangUps, 0) << "not idle long enough";
  clock.now += 1000;
  kv->SnoozeTimerTimer();
  EXPECT_EQ(dialer.HangUps, 1);
  EXPECT_FALSE(part->SystemConnectionUp());
}

TEST_F(DialUpTest, RedialAfterAFailureConnects) {
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  part->StartDialler();
  part->Poll(clock.now);
  dialer.Events->dialError(10, "The login failed");
  settle();
  EXPECT_EQ(status(), "Status: The login failed");
  EXPECT_EQ(dialer.HangUps, 1) << "a failed call is hung up";
  part->StartDialler();
  connectCall();
  EXPECT_EQ(dialer.Dialled, (std::vector<std::string>{"Mobile", "Mobile"}));
  EXPECT_EQ(script.SessionsOpened(), 1);
}

TEST_F(DialUpTest, ErrorWithoutTextGivesTheCode) {
  part->StartDialler();
  part->Poll(clock.now);
  dialer.Events->dialError(678, "");
  settle();
  EXPECT_EQ(status(), "Status: RAS error no 678");
}

TEST_F(DialUpTest, NoEntrySelectedAsksForOne) {
  kv->KVWForm1->setText("KVWServiceComboBox", "");
  part->StartDialler();
  ASSERT_EQ(prompter.Calls().size(), 1u);
  EXPECT_EQ(prompter.Calls()[0].Text, "Please specify dialup service");
  EXPECT_TRUE(dialer.Dialled.empty());
}

// Without the entry nothing is dialled, and the call does not count as up:
// the dialling picture goes and the Check command comes back.
struct RefusedCase {
  const char* Name;
  std::vector<std::string> Entries;
  const char* Box;
};

class RefusedEntryTest : public DialUpTest, public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedEntryTest, FailsAtOnceAndSaysWhy) {
  dialer.Entries = GetParam().Entries;
  part->StartDialler();
  ASSERT_EQ(prompter.Calls().size(), 1u);
  EXPECT_EQ(prompter.Calls()[0].Text, GetParam().Box);
  EXPECT_TRUE(dialer.Dialled.empty());
  EXPECT_FALSE(part->msRas1.Connected());
  EXPECT_EQ(status(), app::failureStatus(GetParam().Box));
  EXPECT_TRUE(kv->Commands.Enabled("btOpen"));
  EXPECT_EQ(kv->TrayIcon1.IconList(), notify::kTrayIdle);
}

INSTANTIATE_TEST_SUITE_P(Entries, RefusedEntryTest,
                         testing::Values(RefusedCase{"NoConnectionService", {}, net::kRasMissing},
                                         RefusedCase{
                                             "ProfileGone", {"Other"}, "Invalid service name"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DialUpTest, DroppedLineClosesTheSessionAndGoesOffline) {
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  part->StartDialler();
  connectCall();
  ASSERT_EQ(kv->State.OnlineState, 1);
  dialer.Events->dialDropped();
  EXPECT_FALSE(part->SystemConnectionUp());
  host.Address.clear();
  host.Status = net::DialUpStatus::Down;
  clock.now += 1000;
  part->Poll(clock.now);
  EXPECT_EQ(kv->State.OnlineState, 0);
  EXPECT_EQ(status(), "Status: Disconnected....");
}

TEST_F(DialUpTest, TimedCheckOfflineDialsFirstAndChecksOnceTheCallIsUp) {
  kv->State.MainWindowVisible = false;
  kv->KVWForm1->setValue("Interval1", 1);
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  for (int second = 0; second < 61 && dialer.Dialled.empty(); ++second) {
    clock.now += 1000;
    kv->Timer2Timer();
  }
  ASSERT_EQ(dialer.Dialled, std::vector<std::string>{"Mobile"}) << "the interval dials";
  EXPECT_EQ(script.SessionsOpened(), 0) << "no session before the line is up";
  EXPECT_TRUE(kv->Commands.Visible("Disconnect1"));
  connectCall();
  EXPECT_EQ(script.SessionsOpened(), 1);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(kv->State.ValidCount, 1);
  EXPECT_EQ(dialer.Dialled.size(), 1u) << "dialled once";
}

// The text of a listed message asked for while the line is down: the call
// is made, and the fetch waits until the call is up (or has failed) rather
// than reaching for the server while the modem still dials.
struct OfflineBodyCase {
  const char* Name;
  bool CallComesUp;
  int Sessions;  // sessions opened after the line went down
  const char* Status;
};

// The operation dialled (the call before it was the one that dropped),
// opened no session before the call was answered and then the number the
// case says, and ended with the case's status.
class OfflineOperationTest : public DialUpTest,
                             public testing::WithParamInterface<OfflineBodyCase> {
 protected:
  void expectReachedOnlyOnceTheCallWasUp(const OfflineBodyCase& c, int sessionsBefore,
                                         int sessionsWhileDown) {
    EXPECT_EQ(dialer.Dialled.size(), 2u);
    EXPECT_EQ(sessionsWhileDown, 0) << "the server was reached before the line was up";
    EXPECT_EQ(script.SessionsOpened() - sessionsBefore, c.Sessions);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(status(), c.Status);
    EXPECT_FALSE(kv->State.CheckInProgress);
  }
};

class OfflineBodyTest : public OfflineOperationTest {};

TEST_P(OfflineBodyTest, FetchWaitsForTheCall) {
  const auto& c = GetParam();
  const auto m = ValidMessage(1, "u1");
  script.AddSession(CheckSession({m}, true));
  part->StartDialler();
  connectCall();
  ASSERT_EQ(kv->VTree1.rows().size(), 1u);
  dropLine();
  ASSERT_EQ(kv->State.OnlineState, 0);

  std::vector<std::string> display = Join({LoginSteps(),
                                           StatSteps({m}, true),
                                           UidlListSteps({m}),
                                           {"C: LIST 1", "S: +OK 1 301", "C: RETR 1", "S: +OK"}});
  for (const auto& h : m.headers)
    display.push_back("S: " + h);
  display.insert(display.end(),
                 {"S: ", "S: See you at noon", "S: .", "C: UIDL 1", "S: +OK 1 u1", "C: QUIT"});
  if (c.CallComesUp) script.AddSession(display);
  const int sessionsBefore = script.SessionsOpened();
  int sessionsWhileDown = -1;
  answerTheNextCall(c.CallComesUp, sessionsBefore, sessionsWhileDown);
  kv->VTree1.selectOnly(0);
  kv->Body().DisplayBody();

  expectReachedOnlyOnceTheCallWasUp(c, sessionsBefore, sessionsWhileDown);
  EXPECT_EQ(prompter.Boxes().size(), c.CallComesUp ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, OfflineBodyTest,
    testing::Values(OfflineBodyCase{"CallComesUp", true, 1, "Status: Message retrieved"},
                    OfflineBodyCase{"CallFails", false, 0, "Status: The login failed"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A deletion asked for while the dial-up line is down: the server is reached
// only once the call is up; a call that fails sends nothing and says why.
class OfflineDeletionTest : public OfflineOperationTest {};

TEST_P(OfflineDeletionTest, DeletionWaitsForTheCall) {
  const auto& c = GetParam();
  const auto s1 = SpamMessage(1, "s1");
  const auto v2 = ValidMessage(2, "v2");
  script.AddSession(CheckSession({s1, v2}, true));
  part->StartDialler();
  connectCall();
  ASSERT_EQ(kv->VTree1.rows().size(), 2u);
  dropLine();
  ASSERT_EQ(kv->State.OnlineState, 0);

  if (c.CallComesUp) {
    script.AddSession(Join({LoginSteps(),
                            StatSteps({s1, v2}, true),
                            UidlListSteps({s1, v2}),
                            {"C: DELE 1", "S: +OK", "C: QUIT", "S: +OK"}}));
    script.AddSession(CheckSession({v2}, true));
  }
  const int sessionsBefore = script.SessionsOpened();
  int sessionsWhileDown = -1;
  answerTheNextCall(c.CallComesUp, sessionsBefore, sessionsWhileDown);
  kv->btDeleteClick(app::kTagSpamDelete);

  expectReachedOnlyOnceTheCallWasUp(c, sessionsBefore, sessionsWhileDown);
  EXPECT_EQ(kv->VTree1.RootNodeCount(), c.CallComesUp ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, OfflineDeletionTest,
    testing::Values(OfflineBodyCase{"CallComesUp", true, 2, "Status: Received maildrop info"},
                    OfflineBodyCase{"CallFails", false, 0, "Status: The login failed"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(DialUpUnavailable, SaysWhyAndWhatToDo) {
  EXPECT_NE(net::DialUpUnavailableText(false, false)->find("NetworkManager"), std::string::npos);
  EXPECT_NE(net::DialUpUnavailableText(true, false)->find("No dial-up connection"),
            std::string::npos);
  EXPECT_FALSE(net::DialUpUnavailableText(true, true).has_value());
}

TEST_F(DialUpTest, UnavailableTextFollowsTheServiceAndItsProfiles) {
  EXPECT_EQ(part->UnavailableText(), "");
  dialer.Entries.clear();
  EXPECT_NE(part->UnavailableText().find("No dial-up connection"), std::string::npos);
  dialer.Available = false;
  EXPECT_NE(part->UnavailableText().find("NetworkManager"), std::string::npos);
}

// A flash reply typed while offline: the line is dialled first and the
// reply goes out only once the dial has ended.
TEST_F(DialUpTest, FlashReplyOfflineDialsAndSendsOnceTheCallIsUp) {
  auto mails = std::make_unique<outgoing::CommandMails>(*kv);
  outgoing::CommandMails& commands = *mails;
  kv->setSysMessages(std::move(mails));
  ASSERT_EQ(kv->State.OnlineState, app::kOffline);
  kv->State.FlashPending = true;
  prompter.AnswerInput("on my way");
  // The platform connects the call while the reply waits.
  pump.onCall = [this](int) {
    if (dialer.Events != nullptr && !dialer.Dialled.empty() && part->msRas1.Dialling()) {
      dialer.Events->dialProgress(net::DialProgress::Connected);
    }
    part->Poll(static_cast<std::uint64_t>(clock.now));
  };
  // Without SMTP settings the send is refused with a balloon: when it
  // comes tells when the send was tried.
  std::optional<bool> dialingAtSend;
  const int balloonsBefore = kv->TrayIcon1.BalloonShowCount();
  kv->TrayIcon1.changed().add([&] {
    if (!dialingAtSend && kv->TrayIcon1.BalloonShowCount() != balloonsBefore) {
      dialingAtSend = part->msRas1.Dialling();
    }
  });
  kv->sysMessages().StartFlashReply(*kv);
  EXPECT_FALSE(kv->State.FlashPending);
  EXPECT_EQ(dialer.Dialled, std::vector<std::string>{"Mobile"});
  EXPECT_TRUE(kv->Commands.Visible("Disconnect1"));
  ASSERT_TRUE(dialingAtSend.has_value()) << "the reply was never sent";
  EXPECT_FALSE(*dialingAtSend) << "sent while the call was still being dialled";
  EXPECT_TRUE(part->msRas1.Connected());
  ASSERT_FALSE(prompter.Boxes().empty());
  EXPECT_EQ(prompter.Boxes().back().Text, "Invalid data or SMTP transmit");
  EXPECT_TRUE(commands.FlashSender().empty());
}

TEST_F(DialUpTest, FlashReplyOnlineDialsNothing) {
  kv->setSysMessages(std::make_unique<outgoing::CommandMails>(*kv));
  kv->State.OnlineState = app::kOnline;
  kv->State.FlashPending = true;
  prompter.AnswerInput("hi");
  kv->sysMessages().StartFlashReply(*kv);
  EXPECT_TRUE(dialer.Dialled.empty());
  EXPECT_FALSE(kv->Commands.Visible("Disconnect1"));
}

}  // namespace
}  // namespace kelvrin::test
