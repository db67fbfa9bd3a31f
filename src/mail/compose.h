#pragma once

// Pieces of an outgoing message's header that are worth testing on their own.

#include <string>
#include <string_view>

#include "mail/mail_message.h"

namespace kelvrin::mail {

// "Tue, 5 Mar 2002 10:20:30 +1300": English names, the zone as +hhmm east
// of UTC, and "-0000" for an offset of zero.
std::string FormatDateLine(const ComposeTime& time);

// "<ZOVyyyymmdd$AAAAAAAA.$RRRRRRRR@host>". The address part is the dotted
// IPv4 localAddr in hexadecimal, or a random number when localAddr is blank
// or no IPv4 address.
std::string MakeMessageId(const ComposeTime& time, std::string_view localAddr,
                          std::string_view localHost);

}  // namespace kelvrin::mail
