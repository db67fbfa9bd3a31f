#pragma once

// Small text helpers of the demo server.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvrin::demo {

bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);
std::string upperAscii(std::string_view text);

// The command word and the rest of a protocol line ("RETR 3" -> "RETR", "3").
struct CommandLine {
  std::string verb;         // upper case
  std::string argument;     // the text after the blanks that follow the verb
  std::string rawArgument;  // the text after the one blank that follows the verb
};
CommandLine splitCommand(std::string_view line);

// A decimal number without sign; empty optional for anything else (blanks,
// signs, overflow).
std::optional<std::uint64_t> parseNumber(std::string_view text);

std::string base64Encode(std::string_view bytes);
// Strict: only the standard alphabet, padding optional; empty optional for
// anything else.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace kelvrin::demo
