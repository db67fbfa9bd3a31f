// The scheduler through simulated hours: one Timer2Timer per simulated
// second on a fake clock, against a window whose state the test sets.

#include "notify/scheduler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kelvrin::notify {
namespace {

class FakeClock final : public protocols::Clock {
 public:
  std::int64_t TickCount() override { return now; }
  void Sleep(int ms) override { now += ms; }
  std::int64_t now = 5000;
};

class FakeHost final : public SchedulerHost {
 public:
  SchedulerInputs schedulerInputs() override { return in; }
  IdleInputs idleInputs() override { return idle; }
  bool CheckCtrlDel() override { return ctrlDelActs; }
  void KeepAlive() override { ++keepAlives; }
  void BeginCheck() override {
    ++checks;
    if (duringCheck) duringCheck();
    // A check resets the count, as the check cycle does.
    if (state) state->TickCount = 0;
  }
  void BeginDialUp() override {
    ++dials;
    if (state) state->TickCount = 0;
  }
  void ClearCheckRequested() override { in.CheckRequested = false; }
  void WebsiteMonitor() override {
    ++monitorRuns;
    if (duringMonitor) duringMonitor();
  }
  void VtreeToFront() override { ++toFront; }
  void HangUpCall() override { ++hangUps; }
  void ScreenSaverOff() override { ++screenSaverOff; }
  bool TimedCheckUnavailable() override { return in.Interval1 == 0; }
  void OfferIntervalSetting() override { ++offers; }
  bool TimedChecksDisabled() override { return in.Disable1; }
  void setTimedChecksDisabled(bool d) override { in.Disable1 = d; }
  bool DisableScnsave1() override { return scnsave; }
  void CountdownNoticeCancelled() override { ++noticeCancels; }

  SchedulerInputs in;
  IdleInputs idle;
  SchedulerState* state = nullptr;
  std::function<void()> duringCheck;
  std::function<void()> duringMonitor;
  int monitorRuns = 0;
  bool ctrlDelActs = false;
  bool scnsave = false;
  int keepAlives = 0, checks = 0, dials = 0, toFront = 0, hangUps = 0, screenSaverOff = 0,
      offers = 0, noticeCancels = 0;
};

class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() { host.state = &state; }

  // Ticks once a second for |seconds| simulated seconds; returns the ticks
  // (1-based) on which a check or a dial-up began.
  std::vector<int> run(int seconds) {
    std::vector<int> starts;
    for (int t = 1; t <= seconds; ++t) {
      clock.now += 1000;
      const int before = host.checks + host.dials;
      scheduler.Timer2Timer();
      if (host.checks + host.dials != before) starts.push_back(t);
    }
    return starts;
  }

  FakeClock clock;
  FakeHost host;
  SchedulerState state;
  TrayIconModel tray;
  IdleMeasure idle{clock};
  TimerModel snooze{1000, true};
  YouHaveMailPanel panel;
  Scheduler scheduler{state, host, tray, idle, snooze, panel};
};

struct IntervalCase {
  const char* name;
  int online;
  int interval1, onlineInt1, increment;
  std::size_t listed;
  std::int64_t seconds;  // the target interval
};

class TargetIntervalTest : public SchedulerTest,
                           public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(TargetIntervalTest, HiddenWindowStartsOnTheTickAfterTheInterval) {
  const auto& c = GetParam();
  host.in.Interval1 = c.interval1;
  host.in.OnlineInt1 = c.onlineInt1;
  host.in.OnlineState = c.online;
  host.in.ListedCount = c.listed;
  state.IntervalIncrement = c.increment;
  EXPECT_EQ(scheduler.targetInterval(host.in), c.seconds);
  // Three intervals: each start comes when the count exceeds the interval.
  const int a = static_cast<int>(c.seconds);
  EXPECT_EQ(run(3 * (a + 1)), (std::vector<int>{a + 1, 2 * (a + 1), 3 * (a + 1)}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TargetIntervalTest,
    ::testing::Values(IntervalCase{"OfflineThreeMinutes", 0, 3, 0, 0, 0, 180},
                      IntervalCase{"OfflineListedAddMinutes", 0, 3, 0, 0, 2, 300},
                      IntervalCase{"OfflineIncrementAddsMinutes", 0, 3, 0, 2, 0, 300},
                      IntervalCase{"OnlineShortIntervalPlusListed", 1, 3, 30, 0, 5, 35},
                      IntervalCase{"OnlineMinutesPlusListedSeconds", 1, 2, 0, 7, 4, 124}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SchedulerTest, OfflineDialsInsteadOfChecking) {
  host.in.Interval1 = 1;
  host.in.ConnectionUsable = false;
  EXPECT_EQ(run(61), (std::vector<int>{61}));
  EXPECT_EQ(host.dials, 1);
  EXPECT_EQ(host.checks, 0);
}

TEST_F(SchedulerTest, TimedCheckLooksAtTheWebsitesFirstARequestedOneDoesNot) {
  host.in.Interval1 = 1;
  host.in.OnlineState = 1;
  host.duringMonitor = [this] { EXPECT_EQ(host.checks, 0) << "the sites come before the check"; };
  EXPECT_EQ(run(61), (std::vector<int>{61}));
  EXPECT_EQ(host.monitorRuns, 1);

  host.in.WindowHidden = false;
  host.in.CheckRequested = true;
  EXPECT_EQ(run(2), (std::vector<int>{2}));
  EXPECT_EQ(host.monitorRuns, 1);
}

TEST_F(SchedulerTest, CheckStartedWhileAWebsiteReportWaitedIsNotStartedAgain) {
  host.in.Interval1 = 1;
  host.in.OnlineState = 1;
  host.duringMonitor = [this] { host.in.CheckInProgress = true; };
  EXPECT_TRUE(run(61).empty());
  EXPECT_EQ(host.monitorRuns, 1);
}

struct BlockCase {
  const char* name;
  bool inProgress, visible, disabled, snoozed, redialAll;
  int interval1;
};

TEST_F(SchedulerTest, TickDeliveredInsideARunningStartDoesNothing) {
  // The check lets events run, and ticks arrive among them.
  host.duringCheck = [this] {
    for (int i = 0; i < 5; ++i)
      scheduler.Timer2Timer();
  };
  host.in.CheckRequested = true;
  run(2);
  EXPECT_EQ(host.checks, 1);
  EXPECT_FALSE(host.in.CheckRequested);
}

class BlockedTest : public SchedulerTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockedTest, NoTimedCheckForHoursAndTheCountStaysAtZero) {
  const auto& c = GetParam();
  host.in.Interval1 = c.interval1;
  host.in.CheckInProgress = c.inProgress;
  host.in.WindowHidden = !c.visible;
  host.in.Disable1 = c.disabled;
  host.in.RedialAll1 = c.redialAll;
  state.SnoozeState = c.snoozed ? 1 : 0;
  EXPECT_TRUE(run(4 * 3600).empty());
  EXPECT_EQ(state.TickCount, 0);
  EXPECT_NE(tray.IconList(), kTrayCountdown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BlockedTest,
    ::testing::Values(BlockCase{"CheckRunning", true, false, false, false, false, 1},
                      BlockCase{"WindowVisible", false, true, false, false, false, 1},
                      BlockCase{"TimedChecksDisabled", false, false, true, false, false, 1},
                      BlockCase{"IntervalZero", false, false, false, false, false, 0},
                      BlockCase{"AfterIdleActionWithoutRedialAll", false, false, false, true, false,
                                1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SchedulerTest, AfterIdleActionRedialAllKeepsTimedChecksGoing) {
  host.in.Interval1 = 1;
  host.in.RedialAll1 = true;
  state.SnoozeState = 1;
  EXPECT_EQ(run(122), (std::vector<int>{61, 122}));
}

TEST_F(SchedulerTest, CountdownPicturesForThreeMinutes) {
  host.in.Interval1 = 3;
  std::vector<std::pair<int, int>> drawn;  // tick, picture index
  for (int t = 1; t <= 180; ++t) {
    const int before = state.GraphStep;
    scheduler.Timer2Timer();
    if (state.GraphStep != before) {
      ASSERT_EQ(tray.IconList(), kTrayCountdown);
      EXPECT_FALSE(tray.CycleIcons());
      drawn.emplace_back(t, tray.IconIndex());
    }
  }
  EXPECT_EQ(drawn, (std::vector<std::pair<int, int>>{{23, 0}, {68, 1}, {113, 2}, {158, 3}}));
}

TEST_F(SchedulerTest, CountdownIsNotDrawnOverAResultOrWhileVisible) {
  host.in.Interval1 = 3;
  host.in.TrayResultShown = 1;
  run(100);
  EXPECT_EQ(state.GraphStep, 0);
  host.in.TrayResultShown = 0;
  host.in.WindowHidden = false;
  host.in.CheckRequested = false;
  run(100);
  EXPECT_EQ(state.GraphStep, 0);
  EXPECT_NE(tray.IconList(), kTrayCountdown);
}

TEST_F(SchedulerTest, RequestedCheckStartsOnTheSecondTickEvenWhileVisible) {
  host.in.Interval1 = 0;
  host.in.WindowHidden = false;
  host.in.CheckRequested = true;
  EXPECT_EQ(run(10), (std::vector<int>{2}));
  EXPECT_FALSE(host.in.CheckRequested);
}

TEST_F(SchedulerTest, RequestServedByTheShortcutsStartsNoCheck) {
  host.in.CheckRequested = true;
  host.ctrlDelActs = true;
  EXPECT_TRUE(run(10).empty());
  EXPECT_EQ(state.TickCount, 0);
}

TEST_F(SchedulerTest, HeldSessionGetsANoopEvery16BlockedTicks) {
  host.in.WindowHidden = false;  // blocked
  host.in.SessionHeld = true;
  run(3600);
  EXPECT_EQ(host.keepAlives, 3600 / 16);
  // Not while an operation runs, and not without a session.
  host.in.CheckInProgress = true;
  run(3600);
  host.in.CheckInProgress = false;
  host.in.SessionHeld = false;
  run(3600);
  EXPECT_EQ(host.keepAlives, 3600 / 16);
}

class IdleTest : public SchedulerTest {
 protected:
  IdleTest() {
    host.idle.IdleSecs1 = 60;
    host.idle.ValidCount = 2;
    host.idle.Invasive1 = true;
    host.idle.Hangup1 = true;
    host.idle.DialUpConnected = true;
  }
  // Snooze ticks once a second while the timer runs; returns the second of
  // the idle action (0 when none came).
  int idleFor(int seconds) {
    int actionAt = 0;
    for (int t = 1; t <= seconds; ++t) {
      clock.now += 1000;
      if (!snooze.Enabled() || snooze.Interval() == 0) continue;
      scheduler.SnoozeTimerTimer();
      if (state.SnoozeState == 1 && actionAt == 0) actionAt = t;
    }
    return actionAt;
  }
};

TEST_F(IdleTest, IdleActionOnceAfterIdleSecsWithoutInput) {
  state.TickCount = 17;
  EXPECT_EQ(idleFor(3600), 61);
  EXPECT_EQ(host.hangUps, 1);
  EXPECT_EQ(host.screenSaverOff, 1);
  EXPECT_TRUE(panel.InFront);
  EXPECT_TRUE(panel.Blink);
  EXPECT_EQ(state.TickCount, 0);
  EXPECT_EQ(snooze.Interval(), 0) << "the idle timer stops";
}

TEST_F(IdleTest, InputOfTheProgramPostponesTheIdleAction) {
  for (int t = 0; t < 50; ++t) {
    idleFor(30);
    idle.inputSeen();
  }
  EXPECT_EQ(state.SnoozeState, 0);
  EXPECT_EQ(idleFor(61), 61);
}

TEST_F(IdleTest, NoInvasiveDisplayWithoutValidMailNoHangUpWithoutACall) {
  host.idle.ValidCount = 0;
  host.idle.DialUpConnected = false;
  EXPECT_EQ(idleFor(70), 61);
  EXPECT_EQ(host.hangUps, 0);
  EXPECT_EQ(host.screenSaverOff, 0);
  EXPECT_FALSE(panel.InFront);
}

TEST_F(IdleTest, RunningCheckCountsAsPresence) {
  host.idle.CheckInProgress = true;
  EXPECT_EQ(idleFor(600), 0);
  host.idle.CheckInProgress = false;
  EXPECT_EQ(idleFor(61), 61);
}

TEST_F(IdleTest, MouseOverTheBlinkingPanelDismissesItOnceItBlinked) {
  idleFor(61);
  ASSERT_TRUE(panel.Blink);
  // Before the first blink the label does not count as a response.
  scheduler.YHMBlinkLabel1MouseMove();
  EXPECT_EQ(host.toFront, 0);
  scheduler.YHMBlinkLabel1Blink();
  scheduler.YHMBlinkLabel1MouseMove();
  EXPECT_EQ(host.toFront, 1);
  EXPECT_EQ(panel.BlinkCount, 0);
  EXPECT_EQ(snooze.Interval(), 1000);
  EXPECT_FALSE(snooze.Enabled());
}

TEST_F(IdleTest, MarkSetIntoTheFutureIsNoIdleTime) {
  idle.ResetIdle(-90000);
  EXPECT_EQ(idle.IdleTime(), 0);
  EXPECT_EQ(idleFor(60 + 90), 0);
  EXPECT_EQ(idleFor(2), 1);
}

TEST(IdleMeasureTest, NothingWrapsAfterFortyNineDays) {
  FakeClock clock;
  clock.now = (std::int64_t{1} << 32) - 2000;  // just before a 32-bit tick wraps
  IdleMeasure idle(clock);
  clock.now += 65000;
  EXPECT_EQ(idle.IdleTime(), 65000);
  clock.now += std::int64_t{200} * 24 * 3600 * 1000;
  idle.inputSeen();
  clock.now += 1500;
  EXPECT_EQ(idle.IdleTime(), 1500);
}

TEST_F(SchedulerTest, Disable1TogglesAndShowsTheIdlePicture) {
  host.in.Interval1 = 3;
  host.in.OnlineState = 1;
  scheduler.Disable1Click();
  EXPECT_TRUE(host.in.Disable1);
  EXPECT_EQ(tray.IconIndex(), kIdleTimedChecksOff);
  EXPECT_TRUE(run(600).empty());
  scheduler.Disable1Click();
  EXPECT_FALSE(host.in.Disable1);
  EXPECT_EQ(tray.IconList(), kTrayIdle);
  EXPECT_EQ(tray.IconIndex(), kIdleOnline);
  host.in.OnlineState = 0;
  scheduler.Disable1Click();
  scheduler.Disable1Click();
  EXPECT_EQ(tray.IconIndex(), kIdleOffline);
  EXPECT_EQ(host.offers, 0);
}

TEST_F(SchedulerTest, AppMessageSwallowsScreenSaverOnlyWhenAsked) {
  EXPECT_FALSE(scheduler.AppMessage(AppMessageKind::ScreenSaverStart));
  host.scnsave = true;
  EXPECT_TRUE(scheduler.AppMessage(AppMessageKind::ScreenSaverStart));
  EXPECT_TRUE(scheduler.AppMessage(AppMessageKind::MonitorPower));
  EXPECT_FALSE(scheduler.AppMessage(AppMessageKind::Other));
  EXPECT_TRUE(scheduler.AppMessage(AppMessageKind::NoticeCancel));
  EXPECT_EQ(host.noticeCancels, 1);
}

}  // namespace
}  // namespace kelvrin::notify
