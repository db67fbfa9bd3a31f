#pragma once

// "Let pending UI events run": every blocking wait of the logic calls this so
// that the desktop program stays responsive and a Cancel can take effect in
// the middle of a network operation.

namespace kelvrin::protocols {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs the events that are waiting, then returns; never blocks.
  virtual void ProcessEvents() = 0;
};

// For programs without an event loop (the command line, tests).
class NullEventPump final : public EventPump {
 public:
  void ProcessEvents() override {}
};

// A shared do-nothing pump, the default of every component that pumps.
EventPump& DefaultEventPump();

}  // namespace kelvrin::protocols
