#pragma once

// The record behind every row of the message view: which message it shows,
// its spam level with the three parts the status display explains, and copies
// of the texts that the scoring and the deletion read.

#include <cstdint>
#include <string>

namespace kelvrin::filter {

struct MessageNode {
  std::int32_t MsgIndex = 0;    // index in the message list of the check
  std::int32_t SpamLevel = 0;   // 0..10
  std::int32_t BaddsLevel = 0;  // banned-address part
  std::int32_t ToLevel = 0;     // address part
  std::int32_t BsubjLevel = 0;  // subject part
  std::string From;
  std::string ReplyTo;
  std::string SendTo;  // the To recipients only
  std::string Subject;
  std::string UIDL;  // empty when the server sent none
};

}  // namespace kelvrin::filter
