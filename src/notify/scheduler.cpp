#include "notify/scheduler.h"

#include "base/rounding.h"

namespace kelvrin::notify {

namespace {

// A NOOP goes on the 16th blocked tick of a held session.
constexpr int kKeepAliveTicks = 15;
constexpr int kCountdownSteps = 4;

}  // namespace

Scheduler::Scheduler(SchedulerState& state, SchedulerHost& host, TrayIconModel& tray,
                     IdleMeasure& idle, TimerModel& snoozeTimer, YouHaveMailPanel& panel)
    : s_(state), host_(host), tray_(tray), idle_(idle), snoozeTimer_(snoozeTimer), panel_(panel) {}

std::int64_t Scheduler::targetInterval(const SchedulerInputs& in) const {
  // Every message still listed lengthens the interval: by a second online,
  // by a minute offline, so a full mailbox is not fetched again too soon.
  const auto listed = static_cast<std::int64_t>(in.ListedCount);
  if (in.OnlineState == 1) {
    if (in.OnlineInt1 > 0) return in.OnlineInt1 + listed;
    return static_cast<std::int64_t>(in.Interval1) * 60 + listed;
  }
  return (static_cast<std::int64_t>(in.Interval1) + s_.IntervalIncrement + listed) * 60;
}

void Scheduler::Timer2Timer() {
  // A check, a keep-alive or the dial-up lets events run while it waits; a
  // tick delivered meanwhile must not start another round on top of it.
  if (ticking_) return;
  ticking_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{ticking_};

  SchedulerInputs in = host_.schedulerInputs();
  if (in.CheckRequested && host_.CheckCtrlDel()) return;
  // The shortcuts may have cleared the request.
  in = host_.schedulerInputs();

  const bool possible =
      !in.CheckInProgress &&
      (in.CheckRequested || (in.WindowHidden && in.Interval1 != 0 && !in.Disable1 &&
                             (s_.SnoozeState != 1 || in.RedialAll1)));
  if (!possible) {
    s_.TickCount = 0;
    if (in.SessionHeld && !in.CheckInProgress) {
      if (++s_.KeepAliveTicks > kKeepAliveTicks) {
        s_.KeepAliveTicks = 0;
        host_.KeepAlive();
      }
    }
    return;
  }

  const std::int64_t a = targetInterval(in);
  if (a > 0 || in.CheckRequested) ++s_.TickCount;

  if (in.WindowHidden && a > 0 && in.TrayResultShown == 0) {
    const auto step =
        static_cast<int>(base::roundHalfEven(std::int64_t{s_.TickCount} * kCountdownSteps, a));
    if (step != s_.GraphStep) {
      s_.GraphStep = step;
      TrayIconDisplay(tray_, kTrayCountdown, static_cast<std::uint16_t>(step));
    }
  }

  // A requested check starts on the second tick after the request at the
  // earliest, so a short press on the tray icon does not start one.
  const bool start =
      (in.CheckRequested && s_.TickCount > 1) || (s_.TickCount > a && in.WindowHidden);
  if (!start) return;

  // A timed check first looks at the monitored sites; one the user asked
  // for goes straight to the mailbox.
  if (!in.CheckRequested) {
    host_.WebsiteMonitor();
    // The reports waited for the user, who may have started something.
    if (host_.schedulerInputs().CheckInProgress) return;
  }

  if (in.ConnectionUsable) {
    host_.BeginCheck();
  } else {
    host_.BeginDialUp();
  }
  host_.ClearCheckRequested();
}

void Scheduler::SnoozeTimerTimer(IdleSender sender) {
  const IdleInputs in = host_.idleInputs();
  if (in.CheckInProgress) {
    idle_.ResetIdle(0);
    return;
  }

  const bool response = (sender == IdleSender::YouHaveMailLabel && panel_.BlinkCount > 0) ||
                        sender == IdleSender::TrayIcon || sender == IdleSender::MessageView;
  if (response) {
    idle_.ResetIdle(0);
    if (panel_.Blink) {
      host_.VtreeToFront();
      panel_.BlinkCount = 0;
      snoozeTimer_.setInterval(1000);
      snoozeTimer_.setEnabled(false);
    }
    return;
  }

  if (s_.SnoozeState == 1) return;
  // Compared in whole seconds, a half rounded to even.
  if (in.IdleSecs1 >= base::roundHalfEven(idle_.IdleTime(), 1000)) return;

  // The idle action runs once, until the next check lists messages.
  snoozeTimer_.setInterval(0);
  snoozeTimer_.setEnabled(false);
  idle_.ResetIdle(0);
  s_.SnoozeState = 1;
  s_.TickCount = 0;
  if (in.Hangup1 && in.DialUpConnected) host_.HangUpCall();
  if (in.ValidCount > 0 && in.Invasive1) {
    host_.ScreenSaverOff();
    panel_.InFront = true;
    panel_.Blink = true;
  }
}

void Scheduler::YHMBlinkLabel1Blink() {
  ++panel_.BlinkCount;
}

void Scheduler::YHMBlinkLabel1MouseMove() {
  if (panel_.InFront) SnoozeTimerTimer(IdleSender::YouHaveMailLabel);
}

void Scheduler::Disable1Click() {
  if (host_.TimedCheckUnavailable()) {
    host_.OfferIntervalSetting();
    return;
  }
  const bool disabled = !host_.TimedChecksDisabled();
  host_.setTimedChecksDisabled(disabled);
  if (disabled) {
    TrayIconDisplay(tray_, kTrayIdle, kIdleTimedChecksOff);
  } else {
    TrayIconDisplay(tray_, kTrayIdle,
                    host_.schedulerInputs().OnlineState == 0 ? kIdleOffline : kIdleOnline);
  }
}

bool Scheduler::AppMessage(AppMessageKind kind) {
  switch (kind) {
    case AppMessageKind::ScreenSaverStart:
    case AppMessageKind::MonitorPower:
      return host_.DisableScnsave1();
    case AppMessageKind::NoticeCancel:
      host_.CountdownNoticeCancelled();
      return true;
    case AppMessageKind::Other:
      break;
  }
  return false;
}

}  // namespace kelvrin::notify
