#include "filter/list_entries.h"

#include <cstring>
#include <functional>
#include <stdexcept>
#include <utility>

namespace kelvrin::filter {
namespace {

// Unused bytes below this are not worth a pass over the text.
constexpr std::size_t kPackAtLeast = 4096;

[[noreturn]] void throwTooLarge() {
  throw std::length_error("The list holds more text than it can index (4 GiB)");
}

}  // namespace

ListEntries::Span ListEntries::append(std::string_view entry) {
  const std::size_t n = entry.size();
  if (n > kMaxText - text_.size()) {
    // Packing moves the text, so an entry that is a view of it goes first.
    const std::string copy(entry);
    if (n > kMaxText - (text_.size() - unused_)) throwTooLarge();
    pack();
    return append(copy);
  }
  // The entry may lie in the block itself (an entry copied to another
  // place): remember where, since growing the block moves it.
  const char* base = text_.data();
  const bool inside = n > 0 && std::greater_equal<const char*>()(entry.data(), base) &&
                      std::less<const char*>()(entry.data(), base + text_.size());
  const std::size_t from = inside ? static_cast<std::size_t>(entry.data() - base) : 0;
  if (text_.capacity() - text_.size() < n) {
    // A quarter more rather than double: the block of a large list is most
    // of the program's memory.
    text_.reserve(text_.size() + std::max(n, text_.size() / 4 + 64));
  }
  const std::size_t offset = text_.size();
  if (inside) {
    text_.resize(offset + n);
    std::memmove(text_.data() + offset, text_.data() + from, n);
  } else {
    text_.insert(text_.end(), entry.begin(), entry.end());
  }
  return {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(n)};
}

void ListEntries::release(const Span& s) {
  unused_ += s.length;
}

void ListEntries::packIfSparse() {
  if (spans_.empty()) {
    std::vector<char>().swap(text_);
    unused_ = 0;
    return;
  }
  if (unused_ >= kPackAtLeast && unused_ * 2 >= text_.size()) pack();
}

void ListEntries::pack() {
  std::vector<char> packed;
  packed.reserve(text_.size() - unused_);
  for (Span& s : spans_) {
    const auto offset = static_cast<std::uint32_t>(packed.size());
    packed.insert(packed.end(), text_.begin() + s.offset, text_.begin() + s.offset + s.length);
    s.offset = offset;
  }
  text_ = std::move(packed);
  unused_ = 0;
}

void ListEntries::insert(std::size_t pos, std::string_view entry) {
  const Span s = append(entry);
  try {
    spans_.insert(spans_.begin() + static_cast<std::ptrdiff_t>(pos), s);
  } catch (...) {
    release(s);
    throw;
  }
}

void ListEntries::replace(std::size_t pos, std::string_view entry) {
  if (entry.size() <= spans_[pos].length) {
    // memmove: the new text may be a part of the old one.
    Span& s = spans_[pos];
    if (!entry.empty()) std::memmove(text_.data() + s.offset, entry.data(), entry.size());
    unused_ += s.length - entry.size();
    s.length = static_cast<std::uint32_t>(entry.size());
  } else {
    const Span fresh = append(entry);
    release(spans_[pos]);
    spans_[pos] = fresh;
  }
  packIfSparse();
}

void ListEntries::erase(std::size_t pos) {
  release(spans_[pos]);
  spans_.erase(spans_.begin() + static_cast<std::ptrdiff_t>(pos));
  packIfSparse();
}

void ListEntries::move(std::size_t from, std::size_t to) {
  const auto at = [this](std::size_t k) { return spans_.begin() + static_cast<std::ptrdiff_t>(k); };
  if (from < to) {
    std::rotate(at(from), at(from + 1), at(to + 1));
  } else if (to < from) {
    std::rotate(at(to), at(from), at(from + 1));
  }
}

void ListEntries::clear() {
  std::vector<Span>().swap(spans_);
  std::vector<char>().swap(text_);
  unused_ = 0;
}

void ListEntries::reserve(std::size_t entries, std::size_t textBytes) {
  spans_.reserve(entries);
  text_.reserve(std::min(textBytes, kMaxText));
}

ListEntries ListEntries::fromLines(std::vector<char> text) {
  if (text.size() > kMaxText) throwTooLarge();
  const std::size_t n = text.size();
  char* p = text.data();
  const auto breakAt = [&](std::size_t i) { return p[i] == '\r' || p[i] == '\n'; };
  // Past the line break that starts at i.
  const auto skipBreak = [&](std::size_t i) {
    return i + ((p[i] == '\r' && i + 1 < n && p[i + 1] == '\n') ? 2 : 1);
  };

  std::size_t count = 0;
  for (std::size_t i = 0; i < n;) {
    if (breakAt(i)) {
      ++count;
      i = skipBreak(i);
    } else {
      ++i;
    }
  }
  if (n > 0 && !breakAt(n - 1)) ++count;

  ListEntries list;
  list.spans_.reserve(count);
  // Each line moves down over the breaks before it; the text never needs a
  // second block.
  std::size_t kept = 0;
  std::size_t start = 0;
  const auto keep = [&](std::size_t end) {
    const std::size_t length = end - start;
    if (kept != start) std::memmove(p + kept, p + start, length);
    list.spans_.push_back({static_cast<std::uint32_t>(kept), static_cast<std::uint32_t>(length)});
    kept += length;
  };
  for (std::size_t i = 0; i < n;) {
    if (!breakAt(i)) {
      ++i;
      continue;
    }
    keep(i);
    i = skipBreak(i);
    start = i;
  }
  if (start < n) keep(n);
  text.resize(kept);
  list.text_ = std::move(text);
  return list;
}

bool operator==(const ListEntries& a, const ListEntries& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

bool operator==(const ListEntries& a, const std::vector<std::string>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](std::string_view x, const std::string& y) { return x == y; });
}

}  // namespace kelvrin::filter
