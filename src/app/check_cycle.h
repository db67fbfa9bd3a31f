#pragma once

// The check cycle: one run of GetServerMessages from the session to the
// scored list, the operations that open and end sessions and bring the
// window back to idle, the Check, Cancel and Exit commands, the account
// choice, and the handlers of the POP3 client's events.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>

namespace kelvrin::mail {
class TMailMessage;
}

namespace kelvrin::app {

class TKVmain;

// How the last check ended, for callers that must report it (the command
// line). A check that did not get past its start test leaves Started false.
struct CheckOutcome {
  bool Started = false;
  // It listed the mailbox (or found it empty) without a reported error.
  bool Completed = false;
  // The POP3 client reported an error through OnError during the check.
  bool ErrorReported = false;
  // The number of messages STAT gave.
  int StatCount = 0;
  // What STAT said before the 16-bit limit of the count: above StatCount
  // when the mailbox holds more than a check can list.
  std::int64_t ServerCount = 0;
};

class CheckCycle {
 public:
  explicit CheckCycle(TKVmain& kv);

  // One complete check, followed by the automatic spam deletion when the
  // options ask for it.
  void GetServerMessages();
  // What the scheduler does for a requested check on a usable connection:
  // begin the check, run it, clear the request, restart the body-display
  // delay.
  void RunRequestedCheck();

  bool InitComms();
  void EndSession();
  void ResetStatus();
  void DelButtonEnable(bool Enable);
  void VtreeToFront();

  void btOpenClick();
  // What btOpenClick does, without the pause of a clicked button: the
  // command line's Check, which has no button.
  void RequestCheckWithoutClick();
  void BtCancelClick();
  void btCloseClick();
  void PaccountClick();
  void DDownAcctPopup();

  void Pop3Client1Connect();
  void Pop3Client1Disconnect();
  void Pop3Client1Error(std::int32_t Error, const std::string& Msg);
  void Pop3Client1AfterRetrieve();
  void Pop3Client1RetrieveProgress(std::uint16_t Percent);
  // The status of a check that listed only the first 65,535 of the messages.
  static std::string CountLimitStatus(int listed, std::int64_t held);
  // Attaches the handlers above to the client (the check's own set, without
  // a progress handler).
  void attachClientEvents();

  // Waits while the window keeps working; ends early once reasonGone says
  // there is nothing left to wait for.
  void Delay(std::uint32_t Milliseconds, const std::function<bool()>& reasonGone = {});

  // Runs a handler so that no exception leaves it: a failure shows
  // "Status: " and the first 50 characters of its message and the window
  // returns to idle.
  void guarded(const std::function<void()>& handler);

  const CheckOutcome& LastOutcome() const { return outcome_; }
  // Grows with every Cancel, so a long operation can tell that the user
  // cancelled while it was running.
  std::uint64_t CancelCount() const { return cancelCount_; }
  // The user did something (asked for a check, deleted): the automatic
  // deletion may try again even if the list is the one it last tried.
  void userActed() { autoDeleteTried_ = false; }

  // The secondary account is used when "Primary" is not checked and its host
  // is filled in.
  bool secondaryAccountChosen() const;

  // Where the header cache of each account lives; empty (the default): no
  // cache. It serves pipelined checks of servers with unique ids only.
  void setHeaderCacheFolder(std::filesystem::path folder) { cacheFolder_ = std::move(folder); }
  const std::filesystem::path& headerCacheFolder() const { return cacheFolder_; }

  // The number the server gave a message of the last check in the session
  // that listed it; 0 for a message the check did not list.
  std::uint16_t ServerNumberOf(const mail::TMailMessage& message) const;

 private:
  void requestCheck(bool clicked);
  void serverMessagesSteps();
  void autoDeleteIfPending();
  std::size_t listingSignature() const;
  void fetchHeaders();

  TKVmain& kv_;
  CheckOutcome outcome_;
  std::uint64_t cancelCount_ = 0;
  bool checkRunning_ = false;
  bool autoDeletePending_ = false;
  bool inAutoDelete_ = false;
  // The listing the automatic deletion last tried to clean up.
  bool autoDeleteTried_ = false;
  std::size_t autoDeleteSignature_ = 0;
  // Server numbers of the listed messages, noted before the command-mail
  // handling takes any out of the list (the list position then no longer
  // tells the number).
  std::unordered_map<const mail::TMailMessage*, std::uint16_t> serverNumbers_;
  std::filesystem::path cacheFolder_;
  std::uint64_t checkCancelsAtStart_ = 0;
};

}  // namespace kelvrin::app
