#pragma once

// A POP3 server played from arbitrary bytes, for the check and the spam
// deletion of the main window: the bytes are the server's replies, one per
// command, and whatever the server sends, no DELE may name a message that
// is not marked, nor go by an id that does not name exactly one message.
//
// Input: the first byte holds flags (see pop3_dialogue.cpp), the rest is the
// replies in order, separated by kReplySeparator: the greeting of the first
// session, then one reply per command; each further connection takes the
// next reply as its greeting. When the replies run out the server hangs up.

#include <cstddef>
#include <cstdint>

namespace kelvrin::fuzz {

inline constexpr char kReplySeparator = '\x1e';

// Once per process: a private temporary folder and settings home.
void SetUpDialogue();

// Plays one input; aborts (after saying why on stderr) when a DELE broke
// the rule.
void PlayCheckAndDelete(const std::uint8_t* data, std::size_t size);

}  // namespace kelvrin::fuzz
