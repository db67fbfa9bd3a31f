#pragma once

// The flags and counters of the main window that the check cycle, the
// deletion, the body display, the notification and the scheduler share.
// Whoever changes it is a handler; nothing here is saved.
//
// The three counts of the current check come from the scoring's counters, so
// the scoring counts straight into this state; the check cycle announces them
// once the list is complete (announceCounts). The busy flag, the session
// owner, the online state, the start phase and the number listed announce
// every change themselves through Changed.

#include <cstdint>
#include <string>

#include "notify/change_notifier.h"
#include "notify/check_counts.h"
#include "notify/scheduler.h"

namespace kelvrin::app {

// OnlineState.
enum OnlineStateCode : int { kOffline = 0, kOnline = 1 };

// StartPhase.
enum StartPhaseCode : int {
  kStartSettingsExisted = 0,
  kStartFirstShowDone = 1,
  kStartFirstRun = 10,
  kStartClosing = 1000,
};

// The operations that hold the POP3 session while they run.
enum class SessionOperation : std::uint8_t {
  None,
  Check,
  Deletion,
  BodyDisplay,
  CommandMails,
  KeepAlive,
};

struct MainState : notify::CheckCounts, notify::SchedulerState {
  MainState() = default;
  MainState(const MainState&) = delete;
  MainState& operator=(const MainState&) = delete;

  // Every announced change below, and the counts once a list is complete.
  notify::ChangeNotifier<> Changed;
  void announceCounts() const { Changed.notify(); }

  // The window is busy with a check, deletion, body display or command-mail
  // run; ResetStatus clears it when the window returns to idle, also while
  // the operation is still unwinding.
  notify::Announced<bool> CheckInProgress{false, Changed};
  // The operation that holds the POP3 session, from its start to its very
  // end. ResetStatus does not touch it, so nothing can start a second
  // operation in the middle of one (an app::SessionGuard takes and releases
  // it).
  notify::Announced<SessionOperation> SessionOwner{SessionOperation::None, Changed};
  // Cancel came while an operation held the session: the operation resets
  // or closes the session once the network call it waits in has returned.
  bool SessionResetDue = false;
  // Grows with every connection the main window opens, so positions can be
  // tied to the session they were read in.
  std::uint64_t SessionSerial = 0;
  // The session whose positions the message view's rows carry (the one of
  // the check that filled it).
  std::uint64_t ListedSession = 0;
  // A check was asked for; the scheduler starts it and clears the flag.
  bool CheckRequested = false;

  // The first message of the last check carried a unique id.
  bool UIDLCapable = false;
  // OnlineStateCode.
  notify::Announced<int> OnlineState{kOffline, Changed};
  // 1 while the tray shows a check's result instead of the countdown.
  int TrayResultShown = 0;
  // Checks counted while "Web AutoUpdate" is on.
  std::uint16_t CheckCounter = 0;
  // Connection events since the last check start.
  int ConnectEventCount = 0;
  // 10 after the countdown before a deletion was cancelled.
  int CountdownCancelled = 0;
  // 1 when the mail program's Send/Receive hot-key is recorded.
  int SendRcvReady = 0;
  // StartPhaseCode.
  notify::Announced<int> StartPhase{kStartSettingsExisted, Changed};
  // The settings home, with a trailing separator.
  std::string ProgramDir;
  // The version with its dots removed ("0.1.0" gives "010").
  std::string VersionDigits;
  bool SmtpConfigured = false;
  // Guards the Enter key's body display against re-entry.
  bool DisplayActive = false;
  // A flash message waits for its reply.
  bool FlashPending = false;
  // Whether the main window is shown (not minimised to the tray).
  bool MainWindowVisible = false;
};

}  // namespace kelvrin::app
