#include "protocols/socket.h"

namespace kelvrin::protocols {

void Socket::fail(const SocketError& error) {
  if (OnError) OnError(error);
  throw error;
}

void Socket::Open(int connectTimeoutMs) {
  Close();
  try {
    doOpen(connectTimeoutMs);
  } catch (const SocketError& error) {
    doClose();
    fail(error);
  }
  announced_ = true;
  if (OnConnected) OnConnected();
}

void Socket::StartTls(int timeoutMs) {
  try {
    doStartTls(timeoutMs);
  } catch (const SocketError& error) {
    // A half-done handshake leaves nothing usable on the connection, and
    // nothing may go out in plain text after it.
    Close();
    fail(error);
  }
}

void Socket::Send(std::string_view data) {
  try {
    doSend(data);
  } catch (const SocketError& error) {
    fail(error);
  }
}

bool Socket::WaitReadable(int timeoutMs) {
  try {
    return doWaitReadable(timeoutMs);
  } catch (const SocketError& error) {
    fail(error);
  }
}

std::size_t Socket::Receive(char* buffer, std::size_t size) {
  try {
    return doReceive(buffer, size);
  } catch (const SocketError& error) {
    fail(error);
  }
}

void Socket::Close() {
  const bool wasOpen = doClose();
  const bool announce = wasOpen && announced_;
  announced_ = false;
  if (announce && OnDisconnected) OnDisconnected();
}

}  // namespace kelvrin::protocols
