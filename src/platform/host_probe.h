#pragma once

// The website monitor's host test on Linux: the site's host name is
// resolved (getaddrinfo), and nothing is sent to the site. The resolution
// runs on a short-lived thread while the window's events keep running; it
// is given up after a bounded wait, which counts as not found.

#include <functional>
#include <string>

#include "protocols/event_pump.h"

#include "update/update_ports.h"

namespace kelvrin::platform {

class ResolverHostProbe final : public update::HostProbe {
 public:
  // Whether a host name resolves to at least one address. It may block; it
  // runs on the helper thread, so it must not touch the caller's state.
  using Resolver = std::function<bool(const std::string& host)>;
  static bool systemResolve(const std::string& host);

  explicit ResolverHostProbe(protocols::EventPump& pump, int timeoutMs = 5000,
                             Resolver resolver = systemResolve);

  bool Probe(const std::string& host) override;

 private:
  protocols::EventPump& pump_;
  int timeoutMs_;
  Resolver resolver_;
};

}  // namespace kelvrin::platform
