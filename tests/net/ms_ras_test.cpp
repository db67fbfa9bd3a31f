// TmsRas alone over the fake Dialer: the wait on its worker thread ended by
// each of its four flags, set from this (the user-interface) thread. Also
// built under ThreadSanitizer.

#include "net/ms_ras.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/dial_texts.h"
#include "net/net_doubles.h"

namespace kelvrin::test {
namespace {

enum class Ending { Connected, Error, Cancelled, TimedOut };

struct EndingCase {
  const char* Name;
  Ending How;
  const char* Error;  // the message of the end, "" when connected
  bool Connected;
  int HangUps;
};

class WaitEndingTest : public testing::TestWithParam<EndingCase> {
 protected:
  void SetUp() override {
    ras.OnDialEnded = [this](const std::optional<net::RasError>& e) {
      ended = true;
      error = e ? e->what() : "";
    };
    ras.setService("Mobile");
  }
  void pollUntilEnded(std::uint64_t now) {
    for (int i = 0; i < 5000 && !ended; ++i) {
      ras.Poll(now);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  FakeDialer dialer;
  net::TmsRas ras{dialer};
  bool ended = false;
  std::string error;
};

TEST_P(WaitEndingTest, EndsWithItsOutcome) {
  const auto& c = GetParam();
  ASSERT_FALSE(ras.Dial());
  ras.Poll(0);
  EXPECT_TRUE(ras.Dialling());
  std::uint64_t now = 0;
  switch (c.How) {
    case Ending::Connected:
      dialer.Events->dialProgress(net::DialProgress::Connected);
      break;
    case Ending::Error:
      dialer.Events->dialError(6, "The connection attempt timed out");
      break;
    case Ending::Cancelled:
      ras.CancelDial();
      break;
    case Ending::TimedOut:
      now = 120'000;
      break;
  }
  pollUntilEnded(now);
  ASSERT_TRUE(ended);
  EXPECT_FALSE(ras.Dialling());
  EXPECT_EQ(error, c.Error);
  EXPECT_EQ(ras.Connected(), c.Connected);
  EXPECT_EQ(dialer.HangUps, c.HangUps);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, WaitEndingTest,
    testing::Values(EndingCase{"Connected", Ending::Connected, "", true, 0},
                    EndingCase{"PlatformError", Ending::Error, "The connection attempt timed out",
                               false, 1},
                    EndingCase{"Cancelled", Ending::Cancelled, net::kCancelledText, false, 1},
                    // The half-made call is not hung up by the time-out.
                    EndingCase{"TimedOut", Ending::TimedOut, net::kTimedOutText, false, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TmsRasLifetime, DestroyedWhileWaitingEndsTheWorker) {
  FakeDialer dialer;
  {
    net::TmsRas ras(dialer);
    ras.setService("Mobile");
    ASSERT_FALSE(ras.Dial());
    EXPECT_TRUE(ras.Dialling());
  }
  EXPECT_EQ(dialer.Events, nullptr);
}

TEST(TmsRasLifetime, UsersOwnConnectionIsNeitherDialledNorHungUp) {
  FakeDialer dialer;
  dialer.UpOutside = "Mobile";
  net::TmsRas ras(dialer);
  ras.setService("Mobile");
  EXPECT_TRUE(ras.Dial());
  EXPECT_TRUE(ras.Connected());
  EXPECT_FALSE(ras.Dialled());
  ras.CancelDial();
  ras.HangUp();
  EXPECT_TRUE(dialer.Dialled.empty());
  EXPECT_EQ(dialer.HangUps, 0);
}

}  // namespace
}  // namespace kelvrin::test
