#include "net/ms_ras.h"

#include <algorithm>
#include <chrono>

#include "net/dial_texts.h"

namespace kelvrin::net {

TmsRas::TmsRas(Dialer& dialer) : dialer_(dialer) {
  dialer_.setEvents(this);
  GetEntries();
}

TmsRas::~TmsRas() {
  dialer_.setEvents(nullptr);
  if (worker_.joinable()) {
    Cancelled_ = 1;
    worker_.join();
  }
}

const std::vector<std::string>& TmsRas::GetEntries() {
  entries_ = dialer_.entries();
  return entries_;
}

void TmsRas::setService(const std::string& name) {
  if (name.empty()) {
    service_.clear();
    return;
  }
  if (!HasEntries()) {
    show(kRasMissing);
    return;
  }
  if (Connected()) {
    show("This property can be set only before\restablishing the connection");
    return;
  }
  GetEntries();
  if (std::find(entries_.begin(), entries_.end(), name) == entries_.end()) {
    show("Invalid service name");
    service_.clear();
    return;
  }
  service_ = name;
}

void TmsRas::ResetState() {
  Connected_ = 0;
  Cancelled_ = 0;
  TimedOut_ = 0;
  ErrorSeen_ = 0;
  WaitEnded_ = 0;
  lastError_ = 0;
  lastErrorText_.clear();
}

bool TmsRas::Dial() {
  if (worker_.joinable()) throw RasError(0, "A dial-up call is already being made");
  if (service_.empty() || dialer_.connectionUp(service_)) {
    // The user's own connection (or none to make): used, never hung up.
    Connected_ = 1;
    dialled_ = false;
    return true;
  }
  dialled_ = true;
  ResetState();
  dialer_.dial(service_);
  if (ErrorSeen_) {
    // Refused before the call began.
    HangUp();
    throw RasError(lastError_, RasErrorText(lastError_, lastErrorText_));
  }
  deadlineMs_.reset();
  dialStartPending_ = true;
  worker_ = std::thread([this] { WaitLoop(); });
  return false;
}

void TmsRas::WaitLoop() {
  // Short sleeps: the flags are set by another thread and a spinning wait
  // would take a whole core for up to two minutes.
  while (!Connected_ && !ErrorSeen_ && !Cancelled_ && !TimedOut_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  WaitEnded_ = 1;
}

void TmsRas::Poll(std::uint64_t nowMs) {
  if (!worker_.joinable()) return;
  if (dialStartPending_) {
    dialStartPending_ = false;
    deadlineMs_ = nowMs + std::uint64_t{TimeOut} * 1000;
  } else if (deadlineMs_ && nowMs >= *deadlineMs_) {
    TimedOut_ = 1;
  }
  if (WaitEnded_) EndWait();
}

void TmsRas::EndWait() {
  worker_.join();
  deadlineMs_.reset();
  std::optional<RasError> error;
  if (ErrorSeen_) {
    HangUp();
    error.emplace(lastError_, RasErrorText(lastError_, lastErrorText_));
  } else if (Cancelled_) {
    error.emplace(0, kCancelledText);
  } else if (TimedOut_ && !Connected_) {
    // The half-made call is left to the platform's own time-out; a later
    // HangUp (Cancel, Disconnect, exit) still ends it.
    error.emplace(0, kTimedOutText);
  }
  if (OnDialEnded) OnDialEnded(error);
}

void TmsRas::CancelDial() {
  HangUp();
  Cancelled_ = 1;
}

void TmsRas::HangUp() {
  if (HasEntries() && dialled_) {
    dialer_.hangUp();
    if (OnDisconnected) OnDisconnected();
  }
  Connected_ = 0;
}

void TmsRas::dialProgress(DialProgress state) {
  if (OnStatusChange) {
    const std::string text = StatusText(state);
    if (!text.empty()) OnStatusChange(text);
  }
  if (!Connected_ && state == DialProgress::Connected) Connected_ = 1;
}

void TmsRas::dialError(std::uint32_t code, const std::string& text) {
  lastError_ = code;
  lastErrorText_ = text;
  if (Connected_) {
    show(RasErrorText(code, text));
    return;
  }
  ErrorSeen_ = 1;
}

void TmsRas::dialDropped() {
  // The line went down under us: our call is gone, and the detector's own
  // poll reports the offline state.
  if (!dialled_ || !Connected_) return;
  Connected_ = 0;
  if (OnDisconnected) OnDisconnected();
}

}  // namespace kelvrin::net
