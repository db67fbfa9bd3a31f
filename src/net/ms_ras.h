#pragma once

// TmsRas: the dial-up component over the Dialer port. It finds an existing
// connection of its entry or dials one, reports the progress as text, waits
// for the connection with a time-out and hangs up only what it dialled.
//
// The wait runs on one worker thread so that the caller goes on at once.
// The worker and the user-interface thread share nothing but the four
// single-byte flags below: the dial events (user-interface thread) set
// Connected or ErrorSeen, Poll sets TimedOut, CancelDial sets Cancelled, and
// the worker sets WaitEnded when one of them is up. Every call to the
// platform stays on the user-interface thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/dialer.h"

namespace kelvrin::net {

class RasError : public std::runtime_error {
 public:
  RasError(std::uint32_t code, const std::string& text)
      : std::runtime_error(text), ErrorCode(code) {}
  std::uint32_t ErrorCode;
};

class TmsRas final : private DialEvents {
 public:
  explicit TmsRas(Dialer& dialer);
  ~TmsRas() override;
  TmsRas(const TmsRas&) = delete;
  TmsRas& operator=(const TmsRas&) = delete;

  const std::vector<std::string>& GetEntries();
  bool HasEntries() const { return !entries_.empty(); }
  const std::vector<std::string>& Entries() const { return entries_; }

  const std::string& Service() const { return service_; }
  // Validates the entry; a refusal is shown through ShowError.
  void setService(const std::string& name);

  // Starts the call of Service. Done (true) when an existing connection is
  // used or nothing is to be dialled; otherwise the wait runs and Poll
  // reports its end through OnDialEnded. Throws RasError when the platform
  // refuses at once.
  bool Dial();
  // The user-interface thread's part of the wait: the time-out count and the
  // end of the wait.
  void Poll(std::uint64_t nowMs);
  bool Dialling() const { return worker_.joinable(); }

  void CancelDial();
  void HangUp();
  void ResetState();

  bool Connected() const { return Connected_.load() != 0; }
  bool Dialled() const { return dialled_; }
  std::uint32_t LastError() const { return lastError_; }

  std::uint32_t TimeOut = 120;  // seconds

  std::function<void(const std::string&)> OnStatusChange;
  std::function<void()> OnDisconnected;
  // The end of a wait: nothing when connected, else the RasError.
  std::function<void(const std::optional<RasError>&)> OnDialEnded;
  // The platform's error dialog, and the default error display for an error
  // after the connection was up.
  std::function<void(const std::string&)> ShowError;

 private:
  void dialProgress(DialProgress) override;
  void dialError(std::uint32_t code, const std::string& text) override;
  void dialDropped() override;

  void WaitLoop();
  void EndWait();
  void show(const std::string& text) {
    if (ShowError) ShowError(text);
  }

  Dialer& dialer_;
  std::vector<std::string> entries_;
  std::string service_;
  bool dialled_ = false;
  std::uint32_t lastError_ = 0;
  std::string lastErrorText_;
  std::optional<std::uint64_t> deadlineMs_;
  std::uint64_t dialStartMs_ = 0;
  bool dialStartPending_ = false;

  std::atomic<std::uint8_t> Connected_{0};
  std::atomic<std::uint8_t> Cancelled_{0};
  std::atomic<std::uint8_t> TimedOut_{0};
  std::atomic<std::uint8_t> ErrorSeen_{0};
  std::atomic<std::uint8_t> WaitEnded_{0};
  std::thread worker_;
};

}  // namespace kelvrin::net
