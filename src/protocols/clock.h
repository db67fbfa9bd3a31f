#pragma once

// Millisecond tick count and sleeping, so that waits can be tested without
// waiting.

#include <cstdint>

namespace kelvrin::protocols {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a steady clock; only differences are meaningful.
  virtual std::int64_t TickCount() = 0;
  // Sleeps; Sleep(0) yields the rest of the time slice.
  virtual void Sleep(int milliseconds) = 0;
};

class SystemClock final : public Clock {
 public:
  std::int64_t TickCount() override;
  void Sleep(int milliseconds) override;
};

// A shared SystemClock, the default of every component that waits.
Clock& DefaultClock();

}  // namespace kelvrin::protocols
