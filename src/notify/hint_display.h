#pragma once

// How long the application's hint stays up: long enough to read, a tenth of
// a second per character, and never shorter than two and a half seconds.

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace kelvrin::notify {

inline constexpr std::int64_t kMinHintHidePause = 2500;
inline constexpr std::int64_t kHintPausePerCharacter = 100;

// Milliseconds the hint of |text| (UTF-8 display text) stays shown.
inline std::int64_t HintHidePause(std::string_view text) {
  std::int64_t characters = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  return std::max(kMinHintHidePause, characters * kHintPausePerCharacter);
}

}  // namespace kelvrin::notify
