#include "net/net_detector.h"

namespace kelvrin::net {

bool TINetDetector::LocalAddressTest() {
  std::string text = host_.ownAddress();
  // Without an address the last one found stays for the status panel.
  if (text.empty()) return false;
  addressText_ = std::move(text);
  return addressText_ != "127.0.0.1";
}

void TINetDetector::Tick() {
  if (!enabled_) return;
  const bool atStart = online_;
  // The answer is told once, when the poll is complete: telling the address
  // test's answer first would report a dial-up call without an address of
  // its own as offline (closing the session) and never report it back.
  bool online = LocalAddressTest();
  const DialUpStatus status = host_.dialUpStatus();
  if (status == DialUpStatus::Up) online = true;
  online_ = online;
  if (online_ != atStart && OnChanged) OnChanged();
}

void TINetDetector::Advance(std::uint64_t nowMs) {
  if (!enabled_ || dispatchInterval_ == 0) return;
  if (polled_ && nowMs - lastPollMs_ < dispatchInterval_) return;
  polled_ = true;
  lastPollMs_ = nowMs;
  Tick();
}

}  // namespace kelvrin::net
