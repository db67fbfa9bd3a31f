#pragma once

#include <string>

namespace kelvrin::net {

// What the platform says about a dial-up connection.
enum class DialUpStatus {
  Unknown,  // no connection service runs: the address test decides alone
  Down,
  Up,
};

// The computer's own addresses and the platform's dial-up status.
class HostInfo {
 public:
  virtual ~HostInfo() = default;
  // The dotted form of an address of an interface that is up and not the
  // loop-back (IPv4 first, else IPv6); empty when there is none.
  virtual std::string ownAddress() = 0;
  virtual DialUpStatus dialUpStatus() = 0;
};

}  // namespace kelvrin::net
