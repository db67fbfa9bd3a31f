#include "base/ascii_text.h"

#include <algorithm>

namespace kelvrin::base {
namespace {

int folded(char c) {
  const auto code = static_cast<unsigned char>(c);
  return (code >= 'A' && code <= 'Z') ? code + ('a' - 'A') : code;
}

}  // namespace

int compareFoldingAscii(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = folded(a[i]);
    const int cb = folded(b[i]);
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool equalFoldingAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (folded(a[i]) != folded(b[i])) return false;
  }
  return true;
}

}  // namespace kelvrin::base
