#pragma once

// An in-memory Socket: replies are queued by the test, everything sent is
// recorded, and a send can be made to fail. Waits return at once, so loops
// that poll can be driven without waiting.

#include <cerrno>
#include <deque>
#include <string>

#include "protocols/socket.h"

namespace kelvrin::test {

class FakeSocket : public protocols::Socket {
 public:
  std::deque<std::string> Incoming;  // each Receive hands out (part of) the front
  std::string Sent;
  int SendCalls = 0;
  int FailSendAt = 0;          // the SendCalls number that fails with EPIPE; 0: none
  int ReadableAfterWaits = 0;  // WaitReadable says "nothing" this many times first
  int WaitCalls = 0;
  bool Connected = false;
  bool PeerClosesWhenDrained = false;  // after the last reply the peer hangs up

  bool IsConnected() const override { return Connected; }
  bool IsTls() const override { return false; }
  std::string LocalHostName() const override { return "testhost"; }
  std::string LocalAddress() const override { return Connected ? "127.0.0.1" : ""; }
  std::string PeerAddress() const override { return Connected ? "127.0.0.2" : ""; }

 protected:
  void doOpen(int) override {
    notifyLookup();
    notifyConnecting();
    Connected = true;
  }
  void doStartTls(int) override {}
  void doSend(std::string_view data) override {
    ++SendCalls;
    if (SendCalls == FailSendAt) throw protocols::SocketError("Broken pipe", EPIPE, "send");
    Sent.append(data);
  }
  bool doWaitReadable(int) override {
    ++WaitCalls;
    if (ReadableAfterWaits > 0) {
      --ReadableAfterWaits;
      return false;
    }
    return !Incoming.empty() || PeerClosesWhenDrained;
  }
  std::size_t doReceive(char* buffer, std::size_t size) override {
    if (Incoming.empty()) {
      if (PeerClosesWhenDrained) Connected = false;
      return 0;
    }
    std::string& front = Incoming.front();
    const std::size_t count = std::min(size, front.size());
    front.copy(buffer, count);
    front.erase(0, count);
    if (front.empty()) Incoming.pop_front();
    return count;
  }
  bool doClose() override {
    const bool was = Connected;
    Connected = false;
    return was;
  }
};

}  // namespace kelvrin::test
