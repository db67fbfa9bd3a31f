#include "platform/posix_host_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>

namespace kelvrin::platform {

std::string ownInterfaceAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);
  std::string v6;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr) continue;
    if ((a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (a->ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
      if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) return text;
    } else if (a->ifa_addr->sa_family == AF_INET6 && v6.empty()) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
      // A link-local address exists on every interface that is up and
      // reaches no mail server.
      if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr)) continue;
      if (inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text) != nullptr) v6 = text;
    }
  }
  return v6;
}

}  // namespace kelvrin::platform
