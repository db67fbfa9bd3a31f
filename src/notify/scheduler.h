#pragma once

// The scheduler of the main window: the once-a-second tick of ETimer2 that
// counts towards the next timed check, draws the countdown in the tray,
// starts a check (or dials first) and keeps a held POP3 session alive; the
// idle timer SnoozeTimer and its idle action; "Disable Timed Check"; and the
// application message filter.
//
// The scheduler knows no window and no session: the main window answers its
// questions and runs what it starts through SchedulerHost. The desktop
// program (or a test) owns the real timers and calls the handlers while the
// TimerModels say they run.

#include <cstddef>
#include <cstdint>

#include "notify/idle_measure.h"
#include "notify/timer_model.h"
#include "notify/tray_icon.h"

namespace kelvrin::notify {

// The scheduler's own memory; the main window's state extends it.
struct SchedulerState {
  // Ticks counted towards the next check; 0 after a check starts, after a
  // session ends, when the window hides and on every blocked tick.
  int TickCount = 0;
  // Blocked ticks while a session is held open; a NOOP goes every 16th.
  int KeepAliveTicks = 0;
  // The countdown picture last drawn in the tray.
  int GraphStep = 0;
  // 1 after the idle action ran; 0 after a check that listed messages and
  // after the view comes back to the front.
  int SnoozeState = 0;
  // Minutes added to the offline interval by checks that found nothing.
  int IntervalIncrement = 0;
};

// What one tick reads of the main window and its settings.
struct SchedulerInputs {
  bool CheckRequested = false;
  bool CheckInProgress = false;
  bool WindowHidden = true;
  int Interval1 = 0;   // minutes, 0 = no timed checks
  int OnlineInt1 = 0;  // seconds while online, 0 = not used
  bool Disable1 = false;
  bool RedialAll1 = false;
  int OnlineState = 0;          // 1 online
  std::size_t ListedCount = 0;  // messages still listed from the last check
  int TrayResultShown = 0;
  // A POP3 session is held open (connected).
  bool SessionHeld = false;
  // A check can run on the connection as it is (else it dials first).
  bool ConnectionUsable = true;
};

// What the idle timer reads.
struct IdleInputs {
  bool CheckInProgress = false;
  int IdleSecs1 = 0;       // seconds, 0 = no idle action
  bool Hangup1 = false;    // "Hangup no traffic calls"
  bool Invasive1 = false;  // "Invasive mail notification"
  bool DialUpConnected = false;
  int ValidCount = 0;
};

class SchedulerHost {
 public:
  virtual ~SchedulerHost() = default;
  virtual SchedulerInputs schedulerInputs() = 0;
  virtual IdleInputs idleInputs() = 0;

  // The Shift/Ctrl shortcuts of a requested check (Send/Receive or Delete
  // All instead); true when one of them ran.
  virtual bool CheckCtrlDel() = 0;
  // One NOOP on the held session, unless an operation owns the session now.
  virtual void KeepAlive() = 0;
  // Starts the check now; it returns when the check is over.
  virtual void BeginCheck() = 0;
  // Starts the dial-up; the check follows the new connection.
  virtual void BeginDialUp() = 0;
  virtual void ClearCheckRequested() = 0;
  // Probes the monitored web sites (when the monitor is active) and reports
  // each one not found; every report waits for the user.
  virtual void WebsiteMonitor() {}

  // The view to the front: the "You have mail" panel goes behind it.
  virtual void VtreeToFront() = 0;
  // Ends the held session and hangs up the call the program made.
  virtual void HangUpCall() = 0;
  // Switches the desktop's screen saver off (the invasive idle action).
  virtual void ScreenSaverOff() = 0;

  // "Disable Timed Check".
  virtual bool TimedCheckUnavailable() = 0;
  // Explains that the interval is 0 and opens the settings on "Connect".
  virtual void OfferIntervalSetting() = 0;
  virtual bool TimedChecksDisabled() = 0;
  virtual void setTimedChecksDisabled(bool disabled) = 0;
  virtual bool DisableScnsave1() = 0;
  // Closes the countdown notice whose Cancel was pressed and records that
  // it was cancelled (CountdownCancelled := 10, read by the deletion).
  virtual void CountdownNoticeCancelled() = 0;
};

// Who reports the user's presence to the idle timer.
enum class IdleSender { Timer, TrayIcon, MessageView, YouHaveMailLabel, Window };

// The messages the application filter looks at.
enum class AppMessageKind { ScreenSaverStart, MonitorPower, NoticeCancel, Other };

class Scheduler {
 public:
  Scheduler(SchedulerState& state, SchedulerHost& host, TrayIconModel& tray, IdleMeasure& idle,
            TimerModel& snoozeTimer, YouHaveMailPanel& panel);

  // Every 1000 ms while ETimer2 runs.
  void Timer2Timer();
  // The target interval of the count in seconds (a) for these inputs.
  std::int64_t targetInterval(const SchedulerInputs& in) const;

  // Every second while SnoozeTimer runs, and from the mouse-move handlers.
  void SnoozeTimerTimer(IdleSender sender = IdleSender::Timer);
  // The "You have mail" label: every blink, and the mouse over it.
  void YHMBlinkLabel1Blink();
  void YHMBlinkLabel1MouseMove();

  void Disable1Click();

  // True when the message was handled here (the application drops it).
  bool AppMessage(AppMessageKind kind);

 private:
  SchedulerState& s_;
  SchedulerHost& host_;
  TrayIconModel& tray_;
  IdleMeasure& idle_;
  TimerModel& snoozeTimer_;
  YouHaveMailPanel& panel_;
  bool ticking_ = false;
};

}  // namespace kelvrin::notify
