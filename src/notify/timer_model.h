#pragma once

// A timer as state: its interval and whether it runs. The GUI (or a test)
// owns the real clock and calls the handler; the logic only switches it.

#include "notify/change_notifier.h"

namespace kelvrin::notify {

class TimerModel {
 public:
  explicit TimerModel(int interval = 1000, bool enabled = false)
      : interval_(interval), enabled_(enabled) {}

  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }

  // Setting the interval of a running timer restarts its count.
  void setInterval(int ms) {
    interval_ = ms;
    ++restarts_;
    changed_.notify();
  }
  // Enabling (also an enabled timer) starts a fresh count.
  void setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled) ++restarts_;
    changed_.notify();
  }
  // Grows with every restart of the count, so the driver knows to restart.
  unsigned restarts() const { return restarts_; }

  ChangeNotifier<>& changed() { return changed_; }

 private:
  int interval_;
  bool enabled_;
  unsigned restarts_ = 0;
  ChangeNotifier<> changed_;
};

// The "You have mail" panel: in front of the message view or behind it, and
// its blinking label. Where it stands and whether it blinks announce their
// changes; the blink count is bookkeeping of the timer that blinks it.
struct YouHaveMailPanel {
  YouHaveMailPanel() = default;
  YouHaveMailPanel(const YouHaveMailPanel&) = delete;
  YouHaveMailPanel& operator=(const YouHaveMailPanel&) = delete;

  // The label blinks at this many milliseconds while Blink is on; the GUI
  // calls the scheduler's YHMBlinkLabel1Blink at every blink.
  static constexpr int BlinkInterval = 500;

  ChangeNotifier<> changed;
  Announced<bool> InFront{false, changed};
  Announced<bool> Blink{false, changed};
  int BlinkCount = 0;
};

}  // namespace kelvrin::notify
