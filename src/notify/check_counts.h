#pragma once

// What the post-check notification reads and remembers of a check: the
// counts of this check and the previous one, the number listed and the title
// of every tray hint. The main window's state (app::MainState) extends it.

#include <cstdint>
#include <string>

#include "filter/spam_scoring.h"

namespace kelvrin::notify {

struct CheckCounts : filter::SpamCounters {
  // The counts of the previous check (written by the post-check notification).
  std::uint16_t PrevValidCount = 0;
  std::uint16_t PrevSuspectCount = 0;
  std::uint16_t PrevSpamCount = 0;
  // Messages listed by the last check; 0 after a reset.
  int LastListedCount = 0;
  // "Kelvrinate V" + VersionDigits; the first part of every tray hint.
  std::string TitleText;
};

}  // namespace kelvrin::notify
