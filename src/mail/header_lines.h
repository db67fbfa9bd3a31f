#pragma once

// The header lines of a parsed message, held densely, and a view that lets
// the header routines read either them or lines held as strings.
//
// Every listed message keeps its header block for as long as it is listed,
// tens of thousands of them in a large mailbox. One string per line costs a
// string object, a heap block and the allocator's own bookkeeping for every
// line, about as much again as the text itself; one block of text with the
// end offsets costs the text and four bytes a line.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::mail {

class HeaderLines {
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
    std::string_view operator*() const { return (*lines_)[index_]; }
    std::string_view operator[](difference_type n) const {
      return (*lines_)[static_cast<std::size_t>(static_cast<difference_type>(index_) + n)];
    }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++index_;
      return before;
    }
    const_iterator& operator--() {
      --index_;
      return *this;
    }
    const_iterator operator--(int) {
      const_iterator before = *this;
      --index_;
      return before;
    }
    const_iterator& operator+=(difference_type n) {
      index_ = static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
      return *this;
    }
    const_iterator& operator-=(difference_type n) { return *this += -n; }
    friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
    friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
    friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.index_ == b.index_;
    }
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
      return a.index_ <=> b.index_;
    }

   private:
    friend class HeaderLines;
    const_iterator(const HeaderLines* lines, std::size_t index) : lines_(lines), index_(index) {}
    const HeaderLines* lines_ = nullptr;
    std::size_t index_ = 0;
  };
  using iterator = const_iterator;
  using value_type = std::string_view;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using reference = std::string_view;
  using const_reference = std::string_view;

  HeaderLines() = default;
  HeaderLines(std::initializer_list<std::string_view> lines);

  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  // Unchecked, as for a vector.
  std::string_view operator[](std::size_t k) const {
    const std::uint32_t start = k == 0 ? 0 : ends_[k - 1];
    return {text_.data() + start, ends_[k] - start};
  }
  std::string_view front() const { return (*this)[0]; }
  std::string_view back() const { return (*this)[size() - 1]; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  // line may be a view of this block's own lines. Throws std::length_error
  // when the text would no longer fit.
  void push_back(std::string_view line);
  void clear();
  // The given lines instead of the present ones, in blocks of exactly their
  // size.
  void assign(std::span<const std::string> lines);

  // The lines as strings, for those who need to hand them on as such.
  std::vector<std::string> Strings() const;
  // The text of all lines end to end, without line breaks.
  std::string_view Text() const { return text_; }

  friend bool operator==(const HeaderLines&, const HeaderLines&) = default;

 private:
  std::string text_;
  std::vector<std::uint32_t> ends_;  // where each line ends in text_
};

// Lines for the header routines to read, wherever they are held; refers to
// them, so it must not outlive them.
class LinesView {
 public:
  LinesView() = default;
  LinesView(std::span<const std::string> lines) : strings_(lines.data()), size_(lines.size()) {}
  LinesView(const std::vector<std::string>& lines)
      : LinesView(std::span<const std::string>(lines)) {}
  LinesView(const HeaderLines& lines) : dense_(&lines), size_(lines.size()) {}

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view operator[](std::size_t k) const {
    return dense_ != nullptr ? (*dense_)[k] : std::string_view(strings_[k]);
  }

 private:
  const std::string* strings_ = nullptr;
  const HeaderLines* dense_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kelvrin::mail
