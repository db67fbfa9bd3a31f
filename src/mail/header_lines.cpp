#include "mail/header_lines.h"

#include <stdexcept>

namespace kelvrin::mail {

HeaderLines::HeaderLines(std::initializer_list<std::string_view> lines) {
  std::size_t total = 0;
  for (std::string_view line : lines)
    total += line.size();
  text_.reserve(total);
  ends_.reserve(lines.size());
  for (std::string_view line : lines)
    push_back(line);
}

void HeaderLines::push_back(std::string_view line) {
  if (line.size() > kMaxText - text_.size()) {
    throw std::length_error("HeaderLines: the header block is too large");
  }
  // line may point into text_, which appending can move: note where first.
  const char* data = text_.data();
  if (line.data() >= data && line.data() < data + text_.size()) {
    const std::size_t offset = static_cast<std::size_t>(line.data() - data);
    const std::size_t length = line.size();
    text_.reserve(text_.size() + length);
    text_.append(text_, offset, length);
  } else {
    text_.append(line);
  }
  ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

void HeaderLines::clear() {
  text_.clear();
  ends_.clear();
}

void HeaderLines::assign(std::span<const std::string> lines) {
  std::size_t total = 0;
  for (const std::string& line : lines)
    total += line.size();
  if (total > kMaxText) throw std::length_error("HeaderLines: the header block is too large");
  // Fresh blocks of exactly the size needed: a block kept from earlier
  // lines, or grown by doubling, would keep room nobody uses.
  std::string text;
  text.reserve(total);
  std::vector<std::uint32_t> ends;
  ends.reserve(lines.size());
  for (const std::string& line : lines) {
    text += line;
    ends.push_back(static_cast<std::uint32_t>(text.size()));
  }
  text_.swap(text);
  ends_.swap(ends);
}

std::vector<std::string> HeaderLines::Strings() const {
  std::vector<std::string> lines;
  lines.reserve(size());
  for (std::string_view line : *this)
    lines.emplace_back(line);
  return lines;
}

}  // namespace kelvrin::mail
