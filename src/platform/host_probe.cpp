#include "platform/host_probe.h"

#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>

#include "protocols/posix_socket.h"

namespace kelvrin::platform {

bool ResolverHostProbe::systemResolve(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), "80", &hints, &found);
  if (found != nullptr) freeaddrinfo(found);
  return rc == 0;
}

ResolverHostProbe::ResolverHostProbe(protocols::EventPump& pump, int timeoutMs, Resolver resolver)
    : pump_(pump), timeoutMs_(timeoutMs > 0 ? timeoutMs : 5000), resolver_(std::move(resolver)) {}

bool ResolverHostProbe::Probe(const std::string& host) {
  if (host.empty()) return false;
  // Shared by ownership: a resolution given up goes on alone and writes here.
  auto found = std::make_shared<std::atomic<bool>>(false);
  const auto outcome = protocols::RunOnHelperThread(
      [found, host, resolver = resolver_] { found->store(resolver(host)); }, timeoutMs_,
      [this] {
        pump_.ProcessEvents();
        return true;
      });
  return outcome == protocols::HelperOutcome::Done && found->load();
}

}  // namespace kelvrin::platform
