#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvrin::mail::fuzz {

// The input as a POP3 client would hand it over: lines split at CR LF, CR
// or LF.
inline std::vector<std::string> SplitLines(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(current));
      current.clear();
      if (c == '\r' && i + 1 < size && data[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

}  // namespace kelvrin::mail::fuzz
