#pragma once

// TINetDetector: polls the computer's own address and the platform's dial-up
// status and tells when the answer "online" changes.

#include <cstdint>
#include <functional>
#include <string>

#include "net/host_info.h"

namespace kelvrin::net {

class TINetDetector {
 public:
  explicit TINetDetector(HostInfo& host) : host_(host) {}

  bool Enabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  std::uint32_t DispatchInterval() const { return dispatchInterval_; }
  void setDispatchInterval(std::uint32_t ms) { dispatchInterval_ = ms; }

  bool Online() const { return online_; }
  // Forgets that a line was seen: the next poll that finds one reports it
  // as a change.
  void setOffline() { online_ = false; }
  const std::string& AddressText() const { return addressText_; }
  std::function<void()> OnChanged;

  // One poll. The owner calls it every DispatchInterval while Enabled (a
  // disabled detector ignores it). OnChanged may come twice for one change.
  void Tick();
  // The owner's clock in milliseconds: polls when DispatchInterval has passed
  // since the last poll.
  void Advance(std::uint64_t nowMs);

 private:
  bool LocalAddressTest();

  HostInfo& host_;
  bool enabled_ = false;
  std::uint32_t dispatchInterval_ = 1000;
  bool online_ = false;
  std::string addressText_;
  std::uint64_t lastPollMs_ = 0;
  bool polled_ = false;
};

}  // namespace kelvrin::net
