#include "protocols/clock.h"

#include <chrono>
#include <thread>

#include "protocols/event_pump.h"

namespace kelvrin::protocols {

std::int64_t SystemClock::TickCount() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::Sleep(int milliseconds) {
  if (milliseconds <= 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

Clock& DefaultClock() {
  static SystemClock clock;
  return clock;
}

EventPump& DefaultEventPump() {
  static NullEventPump pump;
  return pump;
}

}  // namespace kelvrin::protocols
