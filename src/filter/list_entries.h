#pragma once

// The entries of a list, held as one block of text and an index of where each
// entry lies in it: a rule list collected over years holds millions of short
// addresses, and one heap block per entry would cost more than the text.
//
// Entries are read as string_views into the block. A view stays valid until
// the list next changes; whoever keeps an entry across a change copies it.
//
// Changes never move the text of the other entries: a new or edited entry is
// appended to the block, a deleted one leaves its bytes unused, and the block
// is packed again once the unused bytes are as many as the used ones. So an
// edit costs the shift of the index (8 bytes an entry), not of the text, and
// ordering the entries (sorting on load, a drag) moves only the index.

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::filter {

class ListEntries {
  struct Span {
    std::uint32_t offset;
    std::uint32_t length;
  };

 public:
  // The most text the block can hold (offsets are 32-bit).
  static constexpr std::size_t kMaxText = UINT32_MAX;

  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using iterator_concept = std::random_access_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using reference = std::string_view;
    using pointer = void;

    const_iterator() = default;
    std::string_view operator*() const { return view(*span_); }
    std::string_view operator[](difference_type n) const { return view(span_[n]); }
    const_iterator& operator++() {
      ++span_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++span_;
      return before;
    }
    const_iterator& operator--() {
      --span_;
      return *this;
    }
    const_iterator operator--(int) {
      const_iterator before = *this;
      --span_;
      return before;
    }
    const_iterator& operator+=(difference_type n) {
      span_ += n;
      return *this;
    }
    const_iterator& operator-=(difference_type n) {
      span_ -= n;
      return *this;
    }
    friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
    friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
    friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return a.span_ - b.span_;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.span_ == b.span_;
    }
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
      return a.span_ <=> b.span_;
    }

   private:
    friend class ListEntries;
    const_iterator(const char* text, const Span* span) : text_(text), span_(span) {}
    std::string_view view(const Span& s) const { return {text_ + s.offset, s.length}; }
    const char* text_ = nullptr;
    const Span* span_ = nullptr;
  };
  using iterator = const_iterator;
  using value_type = std::string_view;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using reference = std::string_view;
  using const_reference = std::string_view;

  std::size_t size() const { return spans_.size(); }
  bool empty() const { return spans_.empty(); }
  // Unchecked, as for a vector.
  std::string_view operator[](std::size_t k) const { return view(spans_[k]); }
  const_iterator begin() const { return {text_.data(), spans_.data()}; }
  const_iterator end() const { return {text_.data(), spans_.data() + spans_.size()}; }

  // entry may be a view of this list's own entries. Throw std::length_error
  // when the text would no longer fit.
  void insert(std::size_t pos, std::string_view entry);
  void push_back(std::string_view entry) { insert(spans_.size(), entry); }
  void replace(std::size_t pos, std::string_view entry);
  void erase(std::size_t pos);
  // The entry leaves pos and ends up at index to.
  void move(std::size_t from, std::size_t to);
  void clear();
  // Room for entries of so many bytes in all, so that building a list of
  // known size grows nothing twice.
  void reserve(std::size_t entries, std::size_t textBytes);

  // Takes the lines of a list file as entries. CR LF, LF and CR each end a
  // line, every line becomes an entry (empty ones too), and a break at the
  // very end adds none. The lines are cut out of the text where it lies, so
  // reading a file costs its size once.
  static ListEntries fromLines(std::vector<char> text);

  // Stable: entries that compare equal keep their order.
  template <typename Less>
  void stableSort(Less less);
  template <typename Less>
  bool isSorted(Less less) const;

  friend bool operator==(const ListEntries& a, const ListEntries& b);
  friend bool operator==(const ListEntries& a, const std::vector<std::string>& b);

 private:
  std::string_view view(const Span& s) const { return {text_.data() + s.offset, s.length}; }
  // Appends bytes to the block and returns their span.
  Span append(std::string_view entry);
  void release(const Span& s);
  void packIfSparse();
  // Copies the used text into a block of its own, in list order.
  void pack();

  std::vector<char> text_;
  std::vector<Span> spans_;
  std::size_t unused_ = 0;  // bytes of text_ that no entry refers to
};

template <typename Less>
void ListEntries::stableSort(Less less) {
  std::stable_sort(spans_.begin(), spans_.end(),
                   [&](const Span& a, const Span& b) { return less(view(a), view(b)); });
}

template <typename Less>
bool ListEntries::isSorted(Less less) const {
  return std::is_sorted(begin(), end(), less);
}

}  // namespace kelvrin::filter
