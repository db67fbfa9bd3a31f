#pragma once

// The real Socket: POSIX sockets with OpenSSL 3 for TLS.
//
// A plain connection waits for data in recv itself, bounded by SO_RCVTIMEO,
// and keeps what the wait received for the next Receive. Under TLS the
// descriptor is non-blocking and waits use poll, so that records without
// application data (TLS 1.3 session tickets) never block a wait. SIGPIPE is
// never raised: plain sends use MSG_NOSIGNAL and TLS goes through a BIO that
// does the same.
//
// TLS verifies the server against the system's CA store (plus CaFile when
// set), checks the host name (or the IP address when the host is one), sends
// SNI for names, and requires TLS 1.2 or later.
//
// Nothing in Open, StartTls or Send blocks for more than 20 ms at a time:
// names are resolved on a short-lived thread of their own while the caller's
// WhileWaiting runs; the connect, the handshake and a send that the peer does
// not take at once wait in polls of 20 ms with WhileWaiting between them, and
// each of them ends at its time-out (a send has none) or when WhileWaiting
// says so.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "protocols/socket.h"

namespace kelvrin::protocols {

class PosixSocket final : public Socket {
 public:
  PosixSocket();
  ~PosixSocket() override;

  bool IsConnected() const override;
  bool IsTls() const override;
  std::string LocalHostName() const override;
  std::string LocalAddress() const override;
  std::string PeerAddress() const override;

 protected:
  void doOpen(int connectTimeoutMs) override;
  void doStartTls(int timeoutMs) override;
  void doSend(std::string_view data) override;
  bool doWaitReadable(int timeoutMs) override;
  std::size_t doReceive(char* buffer, std::size_t size) override;
  bool doClose() override;

 private:
  struct Tls;
  void sendPlain(std::string_view data);
  void sendTls(std::string_view data);
  // A send that cannot go on until the descriptor has events: waits as
  // pollWhileWaiting does, without a time-out; a Cancel throws ECANCELED.
  void waitToSend(short events);
  // One non-blocking TLS read into the read-ahead buffer; false when the
  // record layer needs more bytes from the network.
  bool fillFromTls();
  void keepAhead(const char* data, std::size_t count);
  // SO_RCVTIMEO of the (blocking) plain descriptor; 0 waits without limit.
  void setReceiveTimeout(int timeoutMs);
  // poll in slices of 20 ms with WhileWaiting between them until an event
  // or the deadline (0 then); throws ECANCELED, naming call, when
  // WhileWaiting gives up.
  short pollWhileWaiting(int fd, short events, bool limited,
                         std::chrono::steady_clock::time_point deadline, const char* call);

  int fd_ = -1;
  bool peerClosed_ = false;
  std::string peerAddress_;  // fixed for the life of a connection
  std::unique_ptr<Tls> tls_;
  std::string readAhead_;  // data a wait has already received
  std::size_t readAheadPos_ = 0;
  bool eofPending_ = false;  // a wait saw the end of the stream; Receive returns 0
  int receiveTimeoutMs_ = -1;
};

SocketFactory PosixSocketFactory();

enum class HelperOutcome { Done, TimedOut, Cancelled };

// Runs work on a short-lived thread of its own and waits for it in slices
// of at most 20 ms, running keepWaiting after each slice; it gives up when
// keepWaiting returns false or timeoutMs have passed (0 or less: no limit).
// Work that was given up runs to its end on its own, so it may only touch
// what it shares by ownership (a shared_ptr it holds), never the caller's
// stack.
HelperOutcome RunOnHelperThread(std::function<void()> work, int timeoutMs,
                                const std::function<bool()>& keepWaiting);

}  // namespace kelvrin::protocols
