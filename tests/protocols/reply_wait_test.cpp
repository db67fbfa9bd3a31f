// The reply wait shared by both clients, and the small text rules.

#include "protocols/reply_wait.h"

#include <gtest/gtest.h>

#include "support/fake_socket.h"

namespace kelvrin::protocols {
namespace {

class CountingPump : public EventPump {
 public:
  void ProcessEvents() override { ++calls; }
  int calls = 0;
};

// A clock that moves only when asked to, by step per reading.
class SteppingClock : public Clock {
 public:
  explicit SteppingClock(std::int64_t step) : step_(step) {}
  std::int64_t TickCount() override { return now_ += step_; }
  void Sleep(int ms) override {
    if (ms == 0) ++yields;
  }
  int yields = 0;

 private:
  std::int64_t step_;
  std::int64_t now_ = 1000;
};

TEST(WaitForData, PumpsOnEveryEmptyPollAndYieldsOnEveryTenth) {
  test::FakeSocket socket;
  socket.Incoming = {"+OK\r\n"};
  socket.ReadableAfterWaits = 25;
  CountingPump pump;
  SteppingClock clock(0);
  EXPECT_EQ(WaitForData(
                socket, [] { return true; }, pump, clock, 1000, clock.TickCount()),
            WaitOutcome::Readable);
  EXPECT_EQ(pump.calls, 25);
  EXPECT_EQ(clock.yields, 2);
  EXPECT_EQ(socket.WaitCalls, 26);
}

TEST(WaitForData, ReturnsAtOnceWhenDataIsThere) {
  test::FakeSocket socket;
  socket.Incoming = {"+OK\r\n"};
  CountingPump pump;
  SteppingClock clock(0);
  EXPECT_EQ(WaitForData(
                socket, [] { return true; }, pump, clock, 1000, 0),
            WaitOutcome::Readable);
  EXPECT_EQ(pump.calls, 0);
  EXPECT_EQ(socket.WaitCalls, 1);
}

TEST(WaitForData, GivesUpAfterTheTimeOutCountedFromTheStart) {
  test::FakeSocket socket;
  CountingPump pump;
  SteppingClock clock(500);
  const std::int64_t start = clock.TickCount();
  EXPECT_EQ(WaitForData(
                socket, [] { return true; }, pump, clock, 1200, start),
            WaitOutcome::TimedOut);
  // 500, 1000 and 1500 ms after the start: the third check is past 1200.
  EXPECT_EQ(socket.WaitCalls, 3);
  EXPECT_EQ(pump.calls, 2);
}

TEST(WaitForData, LostConnectionEndsTheWaitBeforeTheTimeOut) {
  test::FakeSocket socket;
  CountingPump pump;
  SteppingClock clock(0);
  EXPECT_EQ(WaitForData(
                socket, [] { return false; }, pump, clock, 1000, 0),
            WaitOutcome::NotConnected);
  EXPECT_EQ(pump.calls, 0);
}

TEST(ReadChunk, ReadsAtMost2048Bytes) {
  test::FakeSocket socket;
  socket.Incoming = {std::string(5000, 'x')};
  CountingPump pump;
  SteppingClock clock(0);
  std::string chunk;
  ASSERT_EQ(ReadChunk(
                socket, [] { return true; }, pump, clock, 1000, 0, chunk),
            WaitOutcome::Readable);
  EXPECT_EQ(chunk.size(), 2048u);
}

TEST(PortNumber, DecimalPortsOnlyElseTheDefault) {
  EXPECT_EQ(PortNumber("110", 25), 110);
  EXPECT_EQ(PortNumber("65535", 25), 65535);
  EXPECT_EQ(PortNumber("65536", 25), 25);
  EXPECT_EQ(PortNumber("0", 25), 25);
  EXPECT_EQ(PortNumber("", 25), 25);
  EXPECT_EQ(PortNumber("11O", 25), 25);
  EXPECT_EQ(PortNumber("-1", 25), 25);
}

TEST(ClampPercent, StaysWithinSixteenBits) {
  EXPECT_EQ(ClampPercent(70000), 65535);
  EXPECT_EQ(ClampPercent(-3), 0);
  EXPECT_EQ(ClampPercent(42), 42);
}

}  // namespace
}  // namespace kelvrin::protocols
