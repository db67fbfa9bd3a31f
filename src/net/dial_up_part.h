#pragma once

// The main window's dial-up and connection detection: msRas1 and INetDet1
// with the handlers StartDialler, msRas1StatusChange, Disconnect1Click and
// INetDet1Changed, plugged into TKVmain as its DialUp part.

#include <memory>
#include <string>
#include <vector>

#include "app/later_parts.h"
#include "net/dialer.h"
#include "net/host_info.h"
#include "net/ms_ras.h"
#include "net/net_detector.h"

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::net {

class DialUpPart final : public app::DialUp {
 public:
  DialUpPart(app::TKVmain& kv, HostInfo& host, Dialer& dialer);
  ~DialUpPart() override;

  // app::DialUp
  bool SystemConnectionUp() override { return msRas1.Connected() && msRas1.Dialled(); }
  bool HoldsConnection() override { return msRas1.Dialled(); }
  void StartDialler() override;
  bool Dialling() override { return msRas1.Dialling(); }
  void SetDetectorOffline() override { INetDet1.setOffline(); }
  bool DialAndWait() override;
  void HangUp() override { msRas1.HangUp(); }
  void Cancel() override;
  std::string AddressText() override { return INetDet1.AddressText(); }

  void Disconnect1Click();
  // The entries the wizard lists; empty without a connection service.
  std::vector<std::string> phoneBookEntries() { return msRas1.GetEntries(); }
  bool serviceAvailable() { return dialer_.serviceAvailable(); }

  // At the first show and when the wizard sets the connection type: type 0
  // counts as always online, type 1 polls.
  void ConnectionTypeChanged(int type) override;
  std::string UnavailableText() override;
  // The desktop's clock, about every 100 ms: the detector's polls and the
  // dialler's wait.
  void Poll(std::uint64_t nowMs);

  void INetDet1Changed(bool fromDialer);

  TINetDetector INetDet1;
  TmsRas msRas1;

 private:
  void DialEnded(const std::optional<RasError>& error);
  void DialFailed(const std::string& message);

  app::TKVmain& kv_;
  Dialer& dialer_;
};

}  // namespace kelvrin::net
