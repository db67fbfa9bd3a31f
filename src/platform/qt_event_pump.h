#pragma once

// The event pump of the desktop program: every wait of the core lets the
// window's pending events run through it.

#include "protocols/event_pump.h"

namespace kelvrin::platform {

class QtEventPump final : public protocols::EventPump {
 public:
  // Runs what is waiting, then returns. Called from inside an event handler
  // (a check started by a click), so it must never wait for more events.
  void ProcessEvents() override;
};

}  // namespace kelvrin::platform
