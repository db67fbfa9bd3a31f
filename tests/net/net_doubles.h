#pragma once

#include <string>
#include <vector>

#include "net/dialer.h"
#include "net/host_info.h"

namespace kelvrin::test {

class FakeHostInfo final : public net::HostInfo {
 public:
  std::string ownAddress() override { return Address; }
  net::DialUpStatus dialUpStatus() override { return Status; }
  std::string Address;
  net::DialUpStatus Status = net::DialUpStatus::Unknown;
};

// Records the calls; the test plays the platform's events through Events.
class FakeDialer final : public net::Dialer {
 public:
  void setEvents(net::DialEvents* events) override { Events = events; }
  bool serviceAvailable() override { return Available; }
  std::vector<std::string> entries() override { return Entries; }
  bool connectionUp(const std::string& entry) override { return entry == UpOutside; }
  void dial(const std::string& entry) override { Dialled.push_back(entry); }
  void hangUp() override { ++HangUps; }

  net::DialEvents* Events = nullptr;
  bool Available = true;
  std::vector<std::string> Entries{"Mobile", "Work VPN"};
  std::string UpOutside;  // an entry the user connected himself
  std::vector<std::string> Dialled;
  int HangUps = 0;
};

}  // namespace kelvrin::test
