#pragma once

// How long the user has left the program alone. Only input addressed to the
// program's own windows counts: the desktop program's application-wide event
// filter calls inputSeen() for every key and mouse event it sees, so typing
// in another program does not make the user "present" here.
//
// Ticks are the Clock's 64-bit monotonic milliseconds, so the measure never
// wraps, however long the program runs.

#include <cstdint>

#include "protocols/clock.h"

namespace kelvrin::notify {

class IdleMeasure {
 public:
  // The user counts as present from the moment the measure starts.
  explicit IdleMeasure(protocols::Clock& clock)
      : clock_(clock), lastInputTick_(clock.TickCount()) {}

  // A key or mouse event of the program's windows.
  void inputSeen() { lastInputTick_ = clock_.TickCount(); }

  // Marks the user present now, or |ms| milliseconds from now (the sign of
  // ms is ignored).
  void ResetIdle(std::int64_t ms = 0) { lastInputTick_ = clock_.TickCount() + (ms < 0 ? -ms : ms); }

  // Milliseconds since the last input; 0 while a mark set into the future
  // has not been reached.
  std::int64_t IdleTime() const {
    const std::int64_t idle = clock_.TickCount() - lastInputTick_;
    return idle > 0 ? idle : 0;
  }

  std::int64_t LastInputTick() const { return lastInputTick_; }

 private:
  protocols::Clock& clock_;
  std::int64_t lastInputTick_;
};

}  // namespace kelvrin::notify
