#pragma once

// The computer's own address from its interfaces (getifaddrs), and the
// dial-up status from whoever knows it (NetworkManager).

#include <functional>
#include <string>

#include "net/host_info.h"

namespace kelvrin::platform {

// The dotted form of the first address of an interface that is up and not
// the loop-back: IPv4 first, else IPv6; empty when there is none.
std::string ownInterfaceAddress();

class PosixHostInfo final : public net::HostInfo {
 public:
  explicit PosixHostInfo(std::function<net::DialUpStatus()> dialUpStatus = {})
      : dialUpStatus_(std::move(dialUpStatus)) {}
  std::string ownAddress() override { return ownInterfaceAddress(); }
  net::DialUpStatus dialUpStatus() override {
    return dialUpStatus_ ? dialUpStatus_() : net::DialUpStatus::Unknown;
  }

 private:
  std::function<net::DialUpStatus()> dialUpStatus_;
};

}  // namespace kelvrin::platform
