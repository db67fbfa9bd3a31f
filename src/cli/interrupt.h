#pragma once

// Ctrl-C during a check or a deletion acts as the Cancel command: the signal
// only raises a flag, and the event pump — which the POP3 client and Delay
// call while they wait — turns it into BtCancelClick on the user-interface
// thread. A second Ctrl-C ends the program at once (nothing was committed:
// a session that ends without QUIT deletes nothing). Whatever ends the
// program while the handlers are installed — the second Ctrl-C, SIGTERM,
// SIGHUP, SIGQUIT, SIGPIPE or std::terminate — first removes every live
// temporary file (spooled replies, attachments).

#include <functional>

#include "protocols/event_pump.h"

namespace kelvrin::cli {

class InterruptPump final : public protocols::EventPump {
 public:
  // Runs onInterrupt (once per Ctrl-C) from ProcessEvents.
  explicit InterruptPump(std::function<void()> onInterrupt)
      : onInterrupt_(std::move(onInterrupt)) {}
  void ProcessEvents() override;

  // Installs the handlers: the first SIGINT raises the flag, a second one
  // and the other ending signals remove the temporary files and end the
  // program by that signal.
  static void install();
  static void uninstall();
  // Whether Ctrl-C was pressed since the start.
  static bool interrupted();
  // For tests: as if Ctrl-C had been pressed.
  static void raiseFlag();
  // Forgets earlier presses (a new run).
  static void reset();

 private:
  std::function<void()> onInterrupt_;
};

}  // namespace kelvrin::cli
