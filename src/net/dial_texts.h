#pragma once

// The texts of the dial-up component and of the wizard's dial-up choice.

#include <cstdint>
#include <optional>
#include <string>

#include "net/dialer.h"

namespace kelvrin::net {

// The progress text shown in the status panel.
std::string StatusText(DialProgress state);

// The message of a failed call: the platform's reason, else "RAS error no "
// and the code.
std::string RasErrorText(std::uint32_t code, const std::string& platformText);

inline constexpr const char* kRasMissing =
    "TmsRas component was unable to detect\rRAS on your system.";
inline constexpr const char* kCancelledText = "Operation has been canceled";
inline constexpr const char* kTimedOutText = "Operation timed out";

// Why the connection type "Dial-Up-Network" cannot work here and what to do,
// or nothing when it can. The wizard shows it in a message box when the user
// picks that type.
std::optional<std::string> DialUpUnavailableText(bool serviceAvailable, bool hasEntries);

}  // namespace kelvrin::net
