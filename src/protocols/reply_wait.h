#pragma once

// What the POP3 and SMTP clients share: the wait for a reply and a few text
// rules of their replies and settings.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "protocols/socket.h"

namespace kelvrin::protocols {

enum class WaitOutcome { Readable, NotConnected, TimedOut };

// The longest a wait lets pass without running the event pump: a window
// that waits for a server must not stutter, and a Cancel must act at once.
inline constexpr int kPumpIntervalMs = 20;

// Waits for readable data in polls of kPumpIntervalMs. After each poll that
// found none: a lost connection ends the wait, then a time-out counted from
// startTick (none when timeoutMs is 0 or less); otherwise the event pump
// runs (so Cancel can set a flag), and every 10th pass also yields the time
// slice. Returns at once when data is there; with lastPumpTick given, the
// pump also runs then when kPumpIntervalMs have passed since the last pump,
// so a server that streams without pause does not hold the events up.
WaitOutcome WaitForData(Socket& socket, const std::function<bool()>& connected, EventPump& pump,
                        Clock& clock, std::int32_t timeoutMs, std::int64_t startTick,
                        std::int64_t* lastPumpTick = nullptr);

// One reply chunk: after WaitForData, a single read of up to 2048 bytes into
// chunk (empty when the peer closed).
WaitOutcome ReadChunk(Socket& socket, const std::function<bool()>& connected, EventPump& pump,
                      Clock& clock, std::int32_t timeoutMs, std::int64_t startTick,
                      std::string& chunk, std::int64_t* lastPumpTick = nullptr);

// Trims bytes of code 32 and below at both ends.
std::string_view TrimBlanks(std::string_view text);

// Four decimal parts 0 to 255 separated by ".".
bool IsDottedIPv4(std::string_view text);

// A port given as text: decimal 1 to 65535, anything else gives fallback.
int PortNumber(std::string_view text, int fallback);

// Points the socket at the server: a dotted IPv4 host is set as the address,
// anything else as a name resolved at open; the port text falls back to
// defaultPort; the TLS mode and CA file as given.
void PointSocketAt(Socket& socket, std::string_view host, std::string_view port, int defaultPort,
                   SecurityMode security, const std::string& caFile);

// The percentage as a 16-bit value: beyond 65535 stays at 65535.
std::uint16_t ClampPercent(std::int64_t percent);

}  // namespace kelvrin::protocols
