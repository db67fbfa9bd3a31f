#include "app/session_guard.h"

#include <exception>

#include "app/kvmain.h"

namespace kelvrin::app {

SessionGuard::SessionGuard(TKVmain& kv, SessionOperation operation) : kv_(kv) {
  auto& s = kv_.State;
  if (sessionOwned(s) || operation == SessionOperation::None) return;
  owns_ = true;
  s.SessionOwner = operation;
  s.SessionResetDue = false;
  // A Cancel stops the operation it came in; left set, the client's flag
  // would turn this one's DELE and retrieval into no-ops on a held session.
  kv_.Pop3Client1.Aborted = false;
}

SessionGuard::~SessionGuard() {
  release();
}

void SessionGuard::settleCancel(bool closeWithoutQuit) {
  auto& s = kv_.State;
  auto& client = kv_.Pop3Client1;
  if (!owns_ || !s.SessionResetDue) return;
  s.SessionResetDue = false;
  if (!client.Connected()) return;
  if (closeWithoutQuit || client.ReplyLeftUnread) {
    client.Socket().Close();
    return;
  }
  try {
    client.Reset();
  } catch (const std::exception& e) {
    kv_.dfsStatus.setStatus(failureStatus(e.what()));
  }
  // A second Cancel during the RSET needs no second one.
  s.SessionResetDue = false;
}

void SessionGuard::release() {
  if (!owns_) return;
  auto& s = kv_.State;
  owns_ = false;
  if (s.SessionResetDue) {
    s.SessionResetDue = false;
    // Left unsettled (an operation ended by an error): closing is the one
    // reset that needs no reply.
    try {
      if (kv_.Pop3Client1.Connected()) kv_.Pop3Client1.Socket().Close();
    } catch (...) {
      // The session is let go below whatever happened to the socket.
    }
  }
  s.SessionOwner = SessionOperation::None;
}

}  // namespace kelvrin::app
