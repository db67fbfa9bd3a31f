#pragma once

// The desktop as the core asks about it: the modifier keys held now, the
// screen saver, and the user's input to the program's own windows.

#include <QObject>
#include <functional>

#include "app/later_parts.h"

namespace kelvrin::platform {

class QtDesktopPort final : public app::DesktopPort {
 public:
  // The keyboard as it is now, not as the last event saw it: a balloon
  // click arrives without modifiers of its own.
  bool ShiftHeld() override;
  bool CtrlHeld() override;
  // Asks the session's screen saver service to count the user as active,
  // which ends a running saver; without the service nothing happens.
  void ScreenSaverOff() override;
};

// An application-wide event filter that reports every key and mouse event
// addressed to the program's windows. It only watches: every event goes on.
class InputWatch final : public QObject {
 public:
  explicit InputWatch(std::function<void()> seen, QObject* parent = nullptr);
  ~InputWatch() override;

  // Whether the event type is user input that counts for the idle measure.
  static bool isInput(int eventType);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> seen_;
};

}  // namespace kelvrin::platform
