#pragma once

// The Dialer port: the platform's dial-up connections. Every call returns at
// once; what follows arrives through DialEvents on the user-interface thread.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvrin::net {

// The progress of one call, in the order a call normally passes them.
enum class DialProgress {
  Initializing,
  Dialing,
  Authenticating,
  Authenticated,
  LoggingOn,
  Connected,
};

class DialEvents {
 public:
  virtual ~DialEvents() = default;
  virtual void dialProgress(DialProgress) = 0;
  // The call failed (code 0 never comes); text is the platform's reason,
  // empty when it has none.
  virtual void dialError(std::uint32_t code, const std::string& text) = 0;
  // A connection that was up went down without our hang-up.
  virtual void dialDropped() = 0;
};

class Dialer {
 public:
  virtual ~Dialer() = default;
  virtual void setEvents(DialEvents* events) = 0;
  // Whether the platform's connection service runs at all.
  virtual bool serviceAvailable() = 0;
  // The phone-book entries, in the platform's order.
  virtual std::vector<std::string> entries() = 0;
  // An active connection of the entry exists (made by whoever).
  virtual bool connectionUp(const std::string& entry) = 0;
  virtual void dial(const std::string& entry) = 0;
  // Ends the call that dial started; nothing when there is none.
  virtual void hangUp() = 0;
};

}  // namespace kelvrin::net
