#pragma once

// One operation at a time holds the POP3 session. A check, a deletion, a
// body display (and the command-mail handling) takes it through a
// SessionGuard for its whole run. Unlike CheckInProgress, which ResetStatus
// clears whenever the window returns to idle — also in the middle of an
// operation, from the OnDisconnect of a Quit, a reported error or Cancel —
// the owner stays until the operation's own scope ends, so no handler that
// runs while the operation waits (a key, a timer, the tray) can start a
// second one on the same session.

#include "app/main_state.h"

namespace kelvrin::app {

class TKVmain;

// Whether an operation holds the session.
inline bool sessionOwned(const MainState& state) {
  return state.SessionOwner != SessionOperation::None;
}

class SessionGuard {
 public:
  // Takes the session for operation when nothing holds it; owns() tells.
  SessionGuard(TKVmain& kv, SessionOperation operation);
  ~SessionGuard();
  SessionGuard(const SessionGuard&) = delete;
  SessionGuard& operator=(const SessionGuard&) = delete;

  bool owns() const { return owns_; }

  // After a network call of the owner has returned: when Cancel came
  // meanwhile, reset the session (RSET), or close it without QUIT when
  // closeWithoutQuit or when the call left a reply half read.
  void settleCancel(bool closeWithoutQuit = false);

  // Lets the session go before the scope ends. A Cancel not yet settled
  // closes the session without QUIT.
  void release();

 private:
  TKVmain& kv_;
  bool owns_ = false;
};

}  // namespace kelvrin::app
