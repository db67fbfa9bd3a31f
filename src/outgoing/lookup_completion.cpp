#include "outgoing/lookup_completion.h"

#include "base/ascii_text.h"

namespace kelvrin::outgoing {

bool CompletesAfter(LookupKey lastKey, std::string_view text) {
  if (text.empty()) return false;
  return lastKey != LookupKey::Backspace && lastKey != LookupKey::Delete &&
         lastKey != LookupKey::Arrow;
}

std::optional<Completion> CompleteText(const std::vector<std::string>& items,
                                       std::string_view typed, bool afterCharacterKey) {
  if (typed.empty()) return std::nullopt;
  const std::size_t n = typed.size();
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (base::equalFoldingAscii(items[i], typed)) {
      return Completion{static_cast<int>(i), items[i], n, 0};
    }
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string& item = items[i];
    if (item.size() > n && base::equalFoldingAscii(std::string_view(item).substr(0, n), typed)) {
      return Completion{static_cast<int>(i), item, n, afterCharacterKey ? item.size() - n : 0};
    }
  }
  return std::nullopt;
}

}  // namespace kelvrin::outgoing
