#include "filter/edit_list_box.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <utility>

#include "base/ascii_text.h"
#include "base/atomic_file.h"
#include "base/file_descriptor.h"

namespace kelvrin::filter {
namespace {

bool containsFolded(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t p = 0; p + part.size() <= text.size(); ++p) {
    if (base::equalFoldingAscii(text.substr(p, part.size()), part)) return true;
  }
  return false;
}

std::string errnoText(int error) {
  return std::strerror(error);
}

[[noreturn]] void throwReadError(const std::filesystem::path& path, int error) {
  throw ListFileError("Cannot read the list file " + path.string() + ": " + errnoText(error));
}

[[noreturn]] void throwWriteError(const std::filesystem::path& path, int error) {
  throw ListFileError("Cannot write the list file " + path.string() + ": " + errnoText(error));
}

// Every line becomes an entry, empty ones too; CR LF, LF and CR all end a
// line, and a break at the very end adds no entry. The text arrives in
// pieces (a CR LF may be split between two of them); onLine sees each line
// once it is complete.
template <typename OnLine>
class LineSplitter {
 public:
  explicit LineSplitter(OnLine onLine) : onLine_(std::move(onLine)) {}

  void feed(std::string_view piece) {
    std::size_t p = 0;
    if (afterCR_ && !piece.empty()) {
      if (piece.front() == '\n') p = 1;
      afterCR_ = false;
    }
    std::size_t start = p;
    while (p < piece.size()) {
      const char c = piece[p];
      if (c != '\r' && c != '\n') {
        ++p;
        continue;
      }
      complete(piece.substr(start, p - start));
      if (c == '\r') {
        if (p + 1 == piece.size()) {
          afterCR_ = true;
        } else if (piece[p + 1] == '\n') {
          ++p;
        }
      }
      start = ++p;
    }
    partial_.append(piece.substr(start));
  }

  void finish() {
    if (!partial_.empty()) onLine_(std::string_view(partial_));
    partial_.clear();
  }

 private:
  void complete(std::string_view tail) {
    if (partial_.empty()) {
      onLine_(tail);
      return;
    }
    partial_.append(tail);
    onLine_(std::string_view(partial_));
    partial_.clear();
  }

  OnLine onLine_;
  std::string partial_;  // the start of a line that the next piece ends
  bool afterCR_ = false;
};

// Reads the rest of the file in pieces; returns 0 or the errno.
template <typename OnPiece>
int readPieces(int fd, OnPiece onPiece) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    onPiece(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
}

// The lines of a list file. A list file can be large (a rule list collected
// over years), so the text is never held whole: one pass counts the lines,
// and the second makes each entry straight from the pieces read, into a
// vector of exactly that size. (What cannot be read twice, a pipe, is read
// once.)
int readListLines(int fd, std::vector<std::string>& lines) {
  lines.clear();
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    std::size_t count = 0;
    LineSplitter counter([&count](std::string_view) { ++count; });
    if (const int error = readPieces(fd, [&](std::string_view piece) { counter.feed(piece); })) {
      return error;
    }
    counter.finish();
    if (::lseek(fd, 0, SEEK_SET) < 0) return errno;
    lines.reserve(count);
  }
  LineSplitter splitter([&lines](std::string_view line) { lines.emplace_back(line); });
  if (const int error = readPieces(fd, [&](std::string_view piece) { splitter.feed(piece); })) {
    return error;
  }
  splitter.finish();
  return 0;
}

// Sorts the entries without a second copy of them: the order is found on
// 32-bit indexes, and the strings are then moved along its cycles. A file
// that the list saved itself is sorted already and costs one pass.
void sortEntries(std::vector<std::string>& lines) {
  const auto less = [](const std::string& a, const std::string& b) {
    return compareEntries(a, b) < 0;
  };
  if (std::is_sorted(lines.begin(), lines.end(), less)) return;
  constexpr std::uint32_t kPlaced = std::numeric_limits<std::uint32_t>::max();
  if (lines.size() >= kPlaced) {
    std::stable_sort(lines.begin(), lines.end(), less);
    return;
  }
  // order[j]: the index of the entry that belongs at position j.
  std::vector<std::uint32_t> order(lines.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return less(lines[a], lines[b]); });
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] == kPlaced) continue;
    std::string held = std::move(lines[i]);
    std::size_t j = i;
    for (;;) {
      const std::size_t from = order[j];
      order[j] = kPlaced;
      if (from == i) {
        lines[j] = std::move(held);
        break;
      }
      lines[j] = std::move(lines[from]);
      j = from;
    }
  }
}

}  // namespace

TEditListBox::TEditListBox() {
  measureText = [](std::string_view text) {
    // A plain estimate until the GUI supplies its font metrics.
    return TextExtent{static_cast<int>(text.size()) * 7, 13};
  };
}

void TEditListBox::checkIndex(int index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
}

void TEditListBox::entriesChanged() {
  modified_ = true;
  ++revision_;
}

const std::string& TEditListBox::Items(int index) const {
  checkIndex(index);
  return entries_[static_cast<std::size_t>(index)];
}

void TEditListBox::insertAt(std::size_t pos, std::string entry) {
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(entry));
  selected_.insert(selected_.begin() + static_cast<std::ptrdiff_t>(pos), 0);
  // The selection stays on the entry it was on.
  if (itemIndex_ >= static_cast<int>(pos)) ++itemIndex_;
  if (anchorIndex_ >= static_cast<int>(pos)) ++anchorIndex_;
  entriesChanged();
}

int TEditListBox::Add(std::string entry) {
  std::size_t pos = entries_.size();
  if (sorted_) {
    const auto it = std::upper_bound(
        entries_.begin(), entries_.end(), entry,
        [](const std::string& a, const std::string& b) { return compareEntries(a, b) < 0; });
    pos = static_cast<std::size_t>(it - entries_.begin());
  }
  insertAt(pos, std::move(entry));
  return static_cast<int>(pos);
}

void TEditListBox::Insert(int index, std::string entry) {
  if (index < 0 || index > Count()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  insertAt(static_cast<std::size_t>(index), std::move(entry));
}

void TEditListBox::Delete(int index) {
  checkIndex(index);
  entries_.erase(entries_.begin() + index);
  selected_.erase(selected_.begin() + index);
  if (itemIndex_ == index) {
    itemIndex_ = -1;
  } else if (itemIndex_ > index) {
    --itemIndex_;
  }
  if (anchorIndex_ == index) {
    anchorIndex_ = -1;
  } else if (anchorIndex_ > index) {
    --anchorIndex_;
  }
  if (editor_.Visible && editor_.EntryIndex == index) editor_.EntryIndex = -1;
  entriesChanged();
}

void TEditListBox::Move(int from, int to) {
  checkIndex(from);
  checkIndex(to);
  if (from == to) return;
  std::string entry = std::move(entries_[static_cast<std::size_t>(from)]);
  entries_.erase(entries_.begin() + from);
  entries_.insert(entries_.begin() + to, std::move(entry));
  std::fill(selected_.begin(), selected_.end(), 0);
  itemIndex_ = -1;
  anchorIndex_ = -1;
  entriesChanged();
}

void TEditListBox::setItem(int index, std::string text) {
  checkIndex(index);
  auto& entry = entries_[static_cast<std::size_t>(index)];
  if (entry == text) return;
  entry = std::move(text);
  entriesChanged();
}

void TEditListBox::Clear() {
  if (entries_.empty()) return;
  entries_.clear();
  selected_.clear();
  itemIndex_ = -1;
  anchorIndex_ = -1;
  entriesChanged();
}

void TEditListBox::setMultiSelect(bool multiSelect) {
  multiSelect_ = multiSelect;
  if (!multiSelect_) {
    // A single-selection list keeps only its selected entry.
    std::fill(selected_.begin(), selected_.end(), 0);
    if (itemIndex_ >= 0) selected_[static_cast<std::size_t>(itemIndex_)] = 1;
  }
}

void TEditListBox::setItemIndex(int index) {
  if (index != -1) checkIndex(index);
  std::fill(selected_.begin(), selected_.end(), 0);
  itemIndex_ = index;
  anchorIndex_ = index;
  if (index >= 0) selected_[static_cast<std::size_t>(index)] = 1;
}

bool TEditListBox::Selected(int index) const {
  checkIndex(index);
  return selected_[static_cast<std::size_t>(index)] != 0;
}

void TEditListBox::setSelected(int index, bool selected) {
  checkIndex(index);
  if (!multiSelect_) {
    if (selected) {
      setItemIndex(index);
    } else if (itemIndex_ == index) {
      setItemIndex(-1);
    }
    return;
  }
  selected_[static_cast<std::size_t>(index)] = selected ? 1 : 0;
  if (selected) itemIndex_ = index;
}

int TEditListBox::SelCount() const {
  return static_cast<int>(std::count(selected_.begin(), selected_.end(), 1));
}

int TEditListBox::Search(std::string_view S, bool Partial, bool CaseSensitive) {
  int hit = -1;
  for (std::size_t k = 0; k < entries_.size() && hit < 0; ++k) {
    const std::string_view entry = entries_[k];
    bool found;
    if (CaseSensitive) {
      found = (Partial && !S.empty() && entry.find(S) != std::string_view::npos) || entry == S;
    } else {
      found =
          (Partial && !S.empty() && containsFolded(entry, S)) || base::equalFoldingAscii(entry, S);
    }
    if (found) hit = static_cast<int>(k);
  }
  setItemIndex(hit);
  return hit;
}

void TEditListBox::EditSelected() {
  if (itemIndex_ < 0) return;
  editor_.Visible = true;
  editor_.Focused = true;
  editor_.EntryIndex = itemIndex_;
  editor_.Text = entries_[static_cast<std::size_t>(itemIndex_)];
  editor_.SelStart = 0;
  editor_.SelLength = editor_.Text.size();
  listFocused_ = false;
}

void TEditListBox::setEditorText(std::string text) {
  editor_.Text = std::move(text);
  editor_.SelStart = editor_.Text.size();
  editor_.SelLength = 0;
}

void TEditListBox::EditorKeyDown(EditorKey key) {
  if (!editor_.Visible) return;
  if (key == EditorKey::Enter && itemIndex_ >= 0) setItem(itemIndex_, editor_.Text);
  editor_.Visible = false;
  editor_.Focused = false;
  listFocused_ = true;
}

bool TEditListBox::KeyPress(char key) {
  if (key != ' ') return false;
  EditSelected();
  return true;
}

void TEditListBox::KeyUp(ListKey key) {
  switch (key) {
    case ListKey::NumpadPlus:
      setItemIndex(Add(std::string(kNewEntryText)));
      break;
    case ListKey::Insert:
      if (itemIndex_ >= 0) {
        const int at = itemIndex_;
        Insert(at, std::string(kNewEntryText));
        setItemIndex(at);
      } else if (entries_.empty()) {
        setItemIndex(Add(std::string(kNewEntryText)));
      }
      EditSelected();
      break;
    case ListKey::Delete:
      if (itemIndex_ >= 0) {
        const int at = itemIndex_;
        Delete(at);
        if (Count() > 0) setItemIndex(std::min(at, Count() - 1));
      }
      break;
    case ListKey::F2:
      EditSelected();
      break;
  }
}

void TEditListBox::hideDragImage() {
  dragImage_.Visible = false;
  dragImage_.Text.clear();
}

void TEditListBox::MouseDown(ShiftState shift, int x, int y) {
  buttonDown_ = true;
  dragging_ = shift.Ctrl;
  dragFromIndex_ = itemIndex_;
  // Without a selected entry there is nothing to carry, so no image either.
  if (dragging_ && itemIndex_ >= 0) {
    dragImage_.Text = entries_[static_cast<std::size_t>(itemIndex_)];
    const TextExtent extent = measureText(dragImage_.Text);
    dragImage_.Width = extent.Width + 4;
    dragImage_.Height = extent.Height + 4;
    dragImage_.Left = x;
    dragImage_.Top = y;
    dragImage_.Visible = true;
  }
  if (OnMouseDown) OnMouseDown(shift, x, y);
}

void TEditListBox::MouseMove(int x, int y) {
  if (dragging_ && dragImage_.Visible) {
    dragImage_.Left = x;
    dragImage_.Top = y;
  }
}

void TEditListBox::Click(ShiftState shift, int index) {
  if (index != -1) checkIndex(index);
  editor_.Visible = false;
  editor_.Focused = false;
  setMultiSelect(shift.Shift || shift.Ctrl);

  // The selection the platform's list box makes for this click.
  if (index >= 0) {
    if (multiSelect_ && shift.Shift && anchorIndex_ >= 0) {
      const int anchor = anchorIndex_;
      std::fill(selected_.begin(), selected_.end(), 0);
      for (int k = std::min(anchor, index); k <= std::max(anchor, index); ++k) {
        selected_[static_cast<std::size_t>(k)] = 1;
      }
      itemIndex_ = index;
    } else if (multiSelect_ && shift.Ctrl) {
      selected_[static_cast<std::size_t>(index)] ^= 1;
      itemIndex_ = index;
      anchorIndex_ = index;
    } else {
      setItemIndex(index);
    }
  }

  if (dragging_ && dragFromIndex_ != -1 && itemIndex_ != -1) {
    const int to = itemIndex_;
    Move(dragFromIndex_, to);
    setItemIndex(to);
  }
  dragging_ = false;
  buttonDown_ = false;
  hideDragImage();
  if (OnClick) OnClick();
}

void TEditListBox::DblClick() {
  if (itemIndex_ >= 0) {
    EditSelected();
  } else {
    hideDragImage();
    dragging_ = false;
    buttonDown_ = false;
  }
  if (OnDblClick) OnDblClick();
}

void TEditListBox::loadList() {
  loadFailed_ = false;
  if (!autoFileName_.empty()) {
    const std::filesystem::path path = listFilePath();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int error = 0;
    if (fd < 0) {
      if (errno != ENOENT) error = errno;
    } else {
      const base::FileDescriptor file(fd);
      std::vector<std::string> lines;
      error = readListLines(fd, lines);
      if (error == 0) {
        if (sorted_) sortEntries(lines);
        entries_ = std::move(lines);
        selected_.assign(entries_.size(), 0);
        itemIndex_ = -1;
        anchorIndex_ = -1;
        ++revision_;
      }
    }
    if (error != 0) {
      loadFailed_ = true;
      if (!entries_.empty()) setItemIndex(0);
      throwReadError(path, error);
    }
  }
  modified_ = false;
  if (!entries_.empty()) setItemIndex(0);
}

void TEditListBox::SaveList() {
  if (autoFileName_.empty()) return;
  if (loadFailed_ && !modified_) return;

  const std::filesystem::path path = listFilePath();
  std::string text;
  std::size_t size = 0;
  for (const auto& entry : entries_)
    size += entry.size() + 2;
  text.reserve(size);
  for (const auto& entry : entries_) {
    text += entry;
    text += "\r\n";
  }

  try {
    // An edited list keeps the permissions the user gave its file.
    base::replaceFileAtomically(path, text, base::FileMode::existingOr(0600));
  } catch (const base::FileError& e) {
    throwWriteError(path, e.error());
  }
  modified_ = false;
  loadFailed_ = false;
}

}  // namespace kelvrin::filter
