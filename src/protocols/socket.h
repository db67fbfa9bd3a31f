#pragma once

// The blocking TCP (and TLS) connection the mail clients talk through. The
// clients only ever see this interface; PosixSocket is the real one, tests may
// hand the clients another through a SocketFactory.
//
// Errors: a failing call first runs OnError with the error, then throws that
// same SocketError (the system's error text, its code and the failing call),
// so a component can clean up in the callback and its caller still sees the
// exception.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvrin::protocols {

// How a client secures its connection. The numbers are the ones the settings
// store.
enum class SecurityMode : std::uint8_t {
  None = 0,         // plain text
  StartTls = 1,     // plain connect, then STLS (POP3) or STARTTLS (SMTP)
  ImplicitTls = 2,  // TLS from the first byte (POP3S, SMTPS)
};

// Code of a socket error that comes from TLS (failed handshake, certificate
// not trusted) rather than from the system; system errors carry errno, name
// resolution errors the (negative) getaddrinfo code.
inline constexpr int kTlsErrorCode = 2009;

class SocketError : public std::runtime_error {
 public:
  SocketError(const std::string& message, int code, std::string call)
      : std::runtime_error(message), code_(code), call_(std::move(call)) {}
  int Code() const { return code_; }
  // The name of the failing call ("connect", "recv", "SSL_connect" ...).
  const std::string& Call() const { return call_; }

 private:
  int code_;
  std::string call_;
};

class Socket {
 public:
  Socket() = default;
  virtual ~Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Notifications, in the order they happen during Open: OnLookup (before the
  // name is resolved), OnConnecting (before the connection attempt),
  // OnConnected (connection usable, after the handshake with implicit TLS).
  // OnDisconnected runs when Close ends a connection that OnConnected
  // announced. OnError runs before a failing call throws.
  std::function<void()> OnLookup;
  std::function<void()> OnConnecting;
  std::function<void()> OnConnected;
  std::function<void()> OnDisconnected;
  std::function<void(const SocketError&)> OnError;
  // Runs at least every 20 ms while Open, StartTls or Send waits (name
  // resolution, connect, TLS handshake, a peer that does not take the data),
  // so that the caller can let events run; returning false gives the wait
  // up, and the call fails with ECANCELED.
  std::function<bool()> WhileWaiting;

  void SetPort(int port) { port_ = port; }
  int Port() const { return port_; }
  // A host name, resolved at open (IPv4 and IPv6); clears the address.
  void SetHost(std::string name) {
    host_ = std::move(name);
    addr_.clear();
  }
  // A numeric address; clears the host name.
  void SetAddr(std::string address) {
    addr_ = std::move(address);
    host_.clear();
  }
  const std::string& Host() const { return host_; }
  const std::string& Addr() const { return addr_; }
  // TLS from the first byte of the next Open.
  void SetImplicitTls(bool on) { implicitTls_ = on; }
  bool ImplicitTls() const { return implicitTls_; }
  // Extra trusted certificates (PEM) besides the system's store; empty: none.
  void SetCaFile(std::string path) { caFile_ = std::move(path); }
  const std::string& CaFile() const { return caFile_; }

  // Resolves and connects, blocking; a time-out of 0 or less leaves the
  // limit to the system. Closes an open connection first.
  void Open(int connectTimeoutMs);
  // Starts TLS on the open connection (after STLS / STARTTLS was accepted).
  void StartTls(int timeoutMs);
  // Sends all of data, waiting (see WhileWaiting) for as long as the peer
  // takes to accept it.
  void Send(std::string_view data);
  // True as soon as data can be received (also when the peer has closed,
  // Receive then returns 0); false when timeoutMs passed without data.
  bool WaitReadable(int timeoutMs);
  // Receives up to size bytes, blocking until at least one is there; 0 when
  // the peer closed the connection.
  std::size_t Receive(char* buffer, std::size_t size);
  // Ends the connection; does nothing when none is open.
  void Close();

  // Open, and the peer has not closed its side.
  virtual bool IsConnected() const = 0;
  virtual bool IsTls() const = 0;
  virtual std::string LocalHostName() const = 0;
  // Numeric addresses of the connection's two ends; empty when not open.
  virtual std::string LocalAddress() const = 0;
  virtual std::string PeerAddress() const = 0;

 protected:
  // The implementation's steps; they throw SocketError and leave reporting
  // to the public calls. doOpen runs notifyLookup/notifyConnecting itself.
  virtual void doOpen(int connectTimeoutMs) = 0;
  virtual void doStartTls(int timeoutMs) = 0;
  virtual void doSend(std::string_view data) = 0;
  virtual bool doWaitReadable(int timeoutMs) = 0;
  virtual std::size_t doReceive(char* buffer, std::size_t size) = 0;
  // Releases the connection without throwing; returns whether one was open.
  virtual bool doClose() = 0;

  void notifyLookup() {
    if (OnLookup) OnLookup();
  }
  void notifyConnecting() {
    if (OnConnecting) OnConnecting();
  }
  // False once WhileWaiting asked to give the wait up.
  bool keepWaiting() { return !WhileWaiting || WhileWaiting(); }

 private:
  [[noreturn]] void fail(const SocketError& error);

  std::string host_;
  std::string addr_;
  std::string caFile_;
  int port_ = 0;
  bool implicitTls_ = false;
  bool announced_ = false;  // OnConnected ran for the open connection
};

using SocketFactory = std::function<std::unique_ptr<Socket>()>;

}  // namespace kelvrin::protocols
