#include "net/dial_texts.h"

namespace kelvrin::net {

std::string StatusText(DialProgress state) {
  switch (state) {
    case DialProgress::Initializing:
      return "Initializing...";
    case DialProgress::Dialing:
      return "Dialing...";
    case DialProgress::Authenticating:
      return "Verifying user name and password";
    case DialProgress::Authenticated:
      return "User name and password verified";
    case DialProgress::LoggingOn:
      return "Logging on to Network";
    case DialProgress::Connected:
      return "Successfully connected";
  }
  return {};
}

std::string RasErrorText(std::uint32_t code, const std::string& platformText) {
  if (!platformText.empty()) return platformText;
  return "RAS error no " + std::to_string(code);
}

std::optional<std::string> DialUpUnavailableText(bool serviceAvailable, bool hasEntries) {
  if (!serviceAvailable) {
    return "Dial-Up-Network needs NetworkManager, which is not running.\r"
           "Start NetworkManager, or choose Cable/ADSL.";
  }
  if (!hasEntries) {
    return "No dial-up connection is set up.\r"
           "Add a mobile broadband, DSL, Bluetooth or VPN connection in the network "
           "settings, or choose Cable/ADSL.";
  }
  return std::nullopt;
}

}  // namespace kelvrin::net
