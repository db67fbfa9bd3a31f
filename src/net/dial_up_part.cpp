#include "net/dial_up_part.h"

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/status_bar.h"
#include "net/dial_texts.h"
#include "protocols/reply_wait.h"
#include "ui/message_box.h"

namespace kelvrin::net {

DialUpPart::DialUpPart(app::TKVmain& kv, HostInfo& host, Dialer& dialer)
    : INetDet1(host), msRas1(dialer), kv_(kv), dialer_(dialer) {
  INetDet1.setDispatchInterval(500);
  INetDet1.OnChanged = [this] { INetDet1Changed(false); };
  msRas1.OnDisconnected = [this] { INetDet1Changed(true); };
  msRas1.OnStatusChange = [this](const std::string& text) {
    if (!text.empty()) kv_.dfsStatus.setStatus("Status: " + text);
  };
  msRas1.OnDialEnded = [this](const std::optional<RasError>& error) { DialEnded(error); };
  msRas1.ShowError = [this](const std::string& text) {
    kv_.Prompter.MsgBox(text, "Kelvrin", false, ui::kMbOk | ui::kMbIconStop);
  };
}

DialUpPart::~DialUpPart() = default;

std::string DialUpPart::UnavailableText() {
  const bool available = serviceAvailable();
  return DialUpUnavailableText(available, available && !phoneBookEntries().empty())
      .value_or(std::string());
}

void DialUpPart::ConnectionTypeChanged(int type) {
  if (type == 0) {
    INetDet1.setEnabled(false);
    kv_.State.OnlineState = app::kOnline;
    return;
  }
  INetDet1.setEnabled(true);
  // The answer is wanted now, not at the first poll; the change it reports
  // is the state being set, not a connection event.
  auto onChanged = std::move(INetDet1.OnChanged);
  INetDet1.OnChanged = nullptr;
  INetDet1.Tick();
  INetDet1.OnChanged = std::move(onChanged);
  kv_.State.OnlineState = INetDet1.Online() ? app::kOnline : app::kOffline;
}

void DialUpPart::Poll(std::uint64_t nowMs) {
  INetDet1.Advance(nowMs);
  msRas1.Poll(nowMs);
}

void DialUpPart::StartDialler() {
  auto& form = *kv_.KVWForm1;
  try {
    if (msRas1.Dialling()) return;  // one call at a time
    if (msRas1.Connected()) msRas1.CancelDial();
    const std::string primary = form.text("KVWServiceComboBox");
    if (primary.empty()) {
      kv_.Prompter.MsgBox("Please specify dialup service", "Kelvrin", false, ui::kMbIconStop);
      return;
    }
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayDialling, 0);
    const std::string secondary = form.text("KVWsecServiceComboBox");
    const std::string wanted =
        kv_.KVmain->checked("Paccount") || secondary.empty() ? primary : secondary;
    msRas1.GetEntries();
    const bool hadEntries = msRas1.HasEntries();
    msRas1.setService(wanted);
    if (msRas1.Service() != wanted) {
      // Refused (and said so): without the entry nothing can be dialled,
      // and counting the line as up would leave the dialling picture and a
      // check that never comes.
      DialFailed(hadEntries ? "Invalid service name" : kRasMissing);
      return;
    }
    kv_.TrayIcon1.setHint(kv_.State.TitleText + " Status: Connecting");
    if (msRas1.Dial()) DialEnded(std::nullopt);
  } catch (const std::exception& e) {
    DialFailed(e.what());
  }
}

bool DialUpPart::DialAndWait() {
  StartDialler();
  // The wait polls for itself: its end (and its time-out) must not hang on
  // whoever else drives Poll.
  while (msRas1.Dialling()) {
    kv_.Delay(protocols::kPumpIntervalMs);
    Poll(static_cast<std::uint64_t>(kv_.Clock.TickCount()));
  }
  return msRas1.Connected();
}

void DialUpPart::DialEnded(const std::optional<RasError>& error) {
  if (error) {
    DialFailed(error->what());
    return;
  }
  kv_.Commands.setVisible("Disconnect1", true);
  if (msRas1.Connected()) {
    // The detector's next change starts the check.
    kv_.State.ConnectEventCount = 1;
  } else {
    kv_.State.CheckInProgress = false;
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleOffline);
    kv_.ResetStatus();
  }
}

void DialUpPart::DialFailed(const std::string& message) {
  kv_.dfsStatus.setStatus(app::failureStatus(message));
  notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleOffline);
  kv_.Commands.setEnabled({"btOpen", "ToolButton2"}, true);
  kv_.State.TrayResultShown = 0;
  kv_.State.CheckInProgress = false;
  kv_.ResetStatus();
}

void DialUpPart::Cancel() {
  msRas1.CancelDial();
  msRas1.HangUp();
}

void DialUpPart::Disconnect1Click() {
  if (msRas1.Connected()) msRas1.CancelDial();
  msRas1.HangUp();
  kv_.Commands.setVisible("Disconnect1", false);
  kv_.Commands.setEnabled({"btOpen", "ToolButton2"}, true);
}

void DialUpPart::INetDet1Changed(bool fromDialer) {
  auto& s = kv_.State;
  auto& cmd = kv_.Commands;
  if (kv_.KVWForm1->value("KVWccntypeGroup") == 0) return;
  if (INetDet1.Online() && !fromDialer) {
    if (s.OnlineState != app::kOffline) return;
    kv_.dfsStatus.setStatus("Status: Connected......");
    s.OnlineState = app::kOnline;
    cmd.setEnabled({"CheckNow1", "btOpen", "ToolButton2"}, true);
    if (!msRas1.Connected()) kv_.VtreeToFront();
    ++s.ConnectEventCount;
    if (s.ConnectEventCount < 3) {
      kv_.ETimer1.setEnabled(false);
      s.ConnectEventCount = 1;
      kv_.GetServerMessages();
    }
    return;
  }
  kv_.Pop3Client1.Socket().Close();
  if (s.OnlineState != app::kOffline && !INetDet1.Online()) {
    s.ConnectEventCount = 1;
    s.OnlineState = app::kOffline;
    kv_.ResetStatus();
    kv_.ETimer1.setEnabled(false);
    if (s.SnoozeState == 0) {
      if (kv_.KVWForm1->value("Interval1") == 0) {
        notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleTimedChecksOff);
      } else if (kv_.VTree1.RootNodeCount() == 0) {
        notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleOffline);
      }
    }
    cmd.setVisible("Disconnect1", false);
    cmd.setEnabled({"BtCancel", "ToolButton8"}, false);
    kv_.dfsStatus.setStatus("Status: Disconnected....");
  }
}

}  // namespace kelvrin::net
