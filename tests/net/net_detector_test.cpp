#include "net/net_detector.h"

#include <gtest/gtest.h>

#include <vector>

#include "net/net_doubles.h"

namespace kelvrin::test {
namespace {

using net::DialUpStatus;

struct Poll {
  std::string Address;
  DialUpStatus Status;
  bool Online;
  std::string AddressText;
  int Changes;  // OnChanged calls during this poll
};

struct DetectorCase {
  const char* Name;
  std::vector<Poll> Polls;
};

class DetectorTest : public testing::TestWithParam<DetectorCase> {};

TEST_P(DetectorTest, FollowsAddressAndDialUpStatus) {
  FakeHostInfo host;
  net::TINetDetector detector(host);
  detector.setEnabled(true);
  int changes = 0;
  detector.OnChanged = [&] { ++changes; };
  for (std::size_t i = 0; i < GetParam().Polls.size(); ++i) {
    const Poll& p = GetParam().Polls[i];
    host.Address = p.Address;
    host.Status = p.Status;
    changes = 0;
    detector.Tick();
    EXPECT_EQ(detector.Online(), p.Online) << "poll " << i;
    EXPECT_EQ(detector.AddressText(), p.AddressText) << "poll " << i;
    EXPECT_EQ(changes, p.Changes) << "poll " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Polls, DetectorTest,
    testing::Values(DetectorCase{"AddressAloneWithoutConnectionService",
                                 {{"192.0.2.7", DialUpStatus::Unknown, true, "192.0.2.7", 1},
                                  {"192.0.2.7", DialUpStatus::Unknown, true, "192.0.2.7", 0},
                                  {"", DialUpStatus::Unknown, false, "192.0.2.7", 1}}},
                    DetectorCase{"LoopbackIsOffline",
                                 {{"127.0.0.1", DialUpStatus::Unknown, false, "127.0.0.1", 0}}},
                    DetectorCase{"IPv6AddressCounts",
                                 {{"2001:db8::5", DialUpStatus::Down, true, "2001:db8::5", 1}}},
                    // The address goes, the dial-up call stays: still online, and no
                    // offline report in between.
                    DetectorCase{"DialUpKeepsOnlineWithoutAddress",
                                 {{"192.0.2.7", DialUpStatus::Up, true, "192.0.2.7", 1},
                                  {"", DialUpStatus::Up, true, "192.0.2.7", 0},
                                  {"", DialUpStatus::Down, false, "192.0.2.7", 1}}},
                    DetectorCase{"DialUpComesUp",
                                 {{"", DialUpStatus::Down, false, "", 0},
                                  {"10.64.0.2", DialUpStatus::Up, true, "10.64.0.2", 1}}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(DetectorClock, PollsEveryDispatchIntervalOnlyWhileEnabled) {
  FakeHostInfo host;
  host.Address = "192.0.2.7";
  net::TINetDetector detector(host);
  detector.setDispatchInterval(500);
  int changes = 0;
  detector.OnChanged = [&] { ++changes; };
  detector.Advance(0);
  EXPECT_FALSE(detector.Online()) << "disabled: no poll";
  detector.setEnabled(true);
  detector.Advance(1000);
  EXPECT_TRUE(detector.Online());
  host.Address.clear();
  detector.Advance(1400);
  EXPECT_TRUE(detector.Online()) << "interval not yet over";
  detector.Advance(1500);
  EXPECT_FALSE(detector.Online());
  EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace kelvrin::test
