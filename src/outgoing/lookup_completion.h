#pragma once

// Type-ahead completion of an address box: which stored item the typed text
// completes to and what of it is selected afterwards, so that typing goes on
// over the added tail.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::outgoing {

// The last key pressed in the box, as far as completion cares.
enum class LookupKey { Character, Backspace, Delete, Arrow, Other };

// Whether a change of the text is completed. Deleting or moving over the
// text must not bring back what the user just removed, and an emptied box
// stays empty.
bool CompletesAfter(LookupKey lastKey, std::string_view text);

struct Completion {
  int Index = -1;                // the item the text became
  std::string Text;              // the item as stored
  std::size_t Caret = 0;         // where the typed text ends
  std::size_t SelectLength = 0;  // the added tail, selected after a character key
};

// The first item equal to the typed text ignoring ASCII case, else the first
// that starts with it. Positions count bytes of the typed text.
std::optional<Completion> CompleteText(const std::vector<std::string>& items,
                                       std::string_view typed, bool afterCharacterKey);

}  // namespace kelvrin::outgoing
