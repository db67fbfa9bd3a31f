// The scheduler wired into the main window: timed checks against a scripted
// server, the keep-alive of a held session and the session it must not
// enter, the wizard that stops the ticks, Delay, and the idle action with
// its panel.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "app/body_display.h"
#include "app/session_guard.h"
#include "app/window_handlers.h"

namespace kelvrin::test {
namespace {

// The settings wizard, while it is open, sees the scheduler still ticking
// (a tick already queued when the window disabled the timer).
class TickingWizard final : public app::SettingsWizard {
 public:
  explicit TickingWizard(int ticks) : ticks_(ticks) {}
  int ShowModal(app::TKVmain& kv) override {
    for (int i = 0; i < ticks_; ++i)
      kv.Timer2Timer();
    return 2;
  }
  void SelectPage(const std::string& page) override { pages.push_back(page); }
  std::vector<std::string> pages;

 private:
  int ticks_;
};

class SchedulerAppTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    kv->State.MainWindowVisible = false;
    kv->KVWForm1->setValue("Interval1", 1);
    kv->KVWForm1->setValue("IdleSecs1", 60);
  }
  // One scheduler tick a second for |seconds| seconds.
  void tick(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.now += 1000;
      kv->Timer2Timer();
    }
  }
};

TEST_F(SchedulerAppTest, TimedCheckRunsWhenTheIntervalIsReached) {
  script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
  tick(60);
  EXPECT_EQ(script.SessionsOpened(), 0);
  tick(1);
  EXPECT_EQ(script.SessionsOpened(), 1);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(kv->State.ValidCount, 1);
  EXPECT_EQ(kv->State.TickCount, 0);
}

TEST_F(SchedulerAppTest, HeldSessionGetsNoopsButNeverInsideAnotherOperation) {
  auto steps = CheckSession({SpamMessage(1), ValidMessage(2)}, false);
  steps.insert(steps.end(), {"C: NOOP", "S: +OK", "C: NOOP", "S: +OK"});
  script.AddSession(steps);
  check();
  ASSERT_TRUE(kv->Pop3Client1.Connected());
  kv->State.MainWindowVisible = true;  // timed checks blocked: keep-alive ticks
  const auto sentByCheck = script.SessionCommands(0).size();

  {
    // An operation owns the session although the window is back to idle
    // (ResetStatus came from inside it): the ticks must leave it alone.
    app::SessionGuard other(*kv, app::SessionOperation::Deletion);
    ASSERT_TRUE(other.owns());
    kv->State.CheckInProgress = false;
    tick(100);
    EXPECT_EQ(script.SessionCommands(0).size(), sentByCheck) << "nothing sent meanwhile";
  }
  tick(32);
  EXPECT_TRUE(script.Finished()) << "two NOOPs in 32 blocked ticks";
  EXPECT_FALSE(app::sessionOwned(kv->State)) << "the keep-alive let the session go";
}

TEST_F(SchedulerAppTest, NoTimedCheckWhileTheWizardIsOpen) {
  auto wizard = std::make_unique<TickingWizard>(600);
  kv->setSettingsWizard(std::move(wizard));
  kv->State.CheckRequested = true;
  kv->Window().GeneralSettings();
  EXPECT_EQ(script.SessionsOpened(), 0);
  EXPECT_TRUE(kv->ETimer2.Enabled()) << "running again once the wizard closed";
}

TEST_F(SchedulerAppTest, DisableWithoutIntervalExplainsAndOpensConnectPage) {
  auto wizard = std::make_unique<TickingWizard>(0);
  auto& pages = wizard->pages;
  kv->setSettingsWizard(std::move(wizard));
  kv->KVWForm1->setValue("Interval1", 0);
  kv->Timers().Disable1Click();
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text,
            "Timer Interval=0:\rChange this setting: Mins interval mail check (0= manual)");
  EXPECT_EQ(pages, (std::vector<std::string>{"TabSheet5"}));
  EXPECT_FALSE(kv->KVmain->checked("Disable1"));

  kv->KVWForm1->setValue("Interval1", 3);
  kv->Timers().Disable1Click();
  EXPECT_TRUE(kv->KVmain->checked("Disable1"));
  EXPECT_TRUE(kv->KVmain->checked("Disable2"));
  tick(600);
  EXPECT_EQ(script.SessionsOpened(), 0);
}

TEST_F(SchedulerAppTest, DelayLetsEventsRunTenTimesASecond) {
  const int before = pump.calls;
  const auto start = clock.now;
  kv->Delay(1000);
  EXPECT_GE(clock.now - start, 1000);
  EXPECT_EQ(pump.calls - before, 10);
}

class IdlePanelTest : public SchedulerAppTest {
 protected:
  // A check with new valid mail, then a minute and a second without input.
  void idleAfterNewMail() {
    kv->KVmain->setChecked("Invasive1", true);
    script.AddSession(CheckSession({ValidMessage(1, "u1")}, true));
    check();
    ASSERT_TRUE(kv->SnoozeTimer.Enabled()) << "armed by a check that listed mail";
    kv->Idle.inputSeen();
    for (int t = 0; t < 61 && kv->SnoozeTimer.Enabled(); ++t) {
      clock.now += 1000;
      kv->SnoozeTimerTimer();
    }
    EXPECT_EQ(kv->State.SnoozeState, 1);
    EXPECT_TRUE(kv->YHMGroupBox1.InFront);
    EXPECT_TRUE(kv->YHMGroupBox1.Blink);
  }
};

TEST_F(IdlePanelTest, MouseOverTheListDismissesThePanel) {
  idleAfterNewMail();
  kv->Body().VTree1MouseMove(10);
  EXPECT_FALSE(kv->YHMGroupBox1.InFront);
  EXPECT_EQ(kv->State.SnoozeState, 0);
}

TEST_F(IdlePanelTest, IdleActionShowsThePanelAndTrayMouseDismissesIt) {
  idleAfterNewMail();

  kv->Timers().YHMBlinkLabel1Blink();
  kv->Window().TrayIcon1MouseMove();
  EXPECT_FALSE(kv->YHMGroupBox1.InFront);
  EXPECT_FALSE(kv->YHMGroupBox1.Blink);
  EXPECT_EQ(kv->State.SnoozeState, 0);
}

}  // namespace
}  // namespace kelvrin::test
