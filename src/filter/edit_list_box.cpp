#include "filter/edit_list_box.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
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

// The whole of a list file. A regular file gets a buffer of exactly its
// size, which then becomes the entries' own text (the lines are cut out of it
// where they lie), so loading costs the file's size once plus the index.
// Returns 0 or the errno.
int readListFile(int fd, std::vector<char>& text) {
  // One byte more than the file holds, so that the read that finds its end
  // has room and nothing grows; a file without a size (a pipe) grows.
  std::size_t room = 65536;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    if (static_cast<std::uintmax_t>(info.st_size) > ListEntries::kMaxText) return EFBIG;
    room = static_cast<std::size_t>(info.st_size) + 1;
  }
  text.resize(room);
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) {
      if (used > ListEntries::kMaxText) return EFBIG;
      text.resize(used * 2);
    }
    const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  if (used > ListEntries::kMaxText) return EFBIG;
  text.resize(used);
  return 0;
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

std::string_view TEditListBox::Items(int index) const {
  checkIndex(index);
  return entries_[static_cast<std::size_t>(index)];
}

void TEditListBox::insertAt(std::size_t pos, std::string_view entry) {
  if (entries_.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("The list cannot hold more entries");
  }
  entries_.insert(pos, entry);
  selected_.insert(selected_.begin() + static_cast<std::ptrdiff_t>(pos), 0);
  // The selection stays on the entry it was on.
  if (itemIndex_ >= static_cast<int>(pos)) ++itemIndex_;
  if (anchorIndex_ >= static_cast<int>(pos)) ++anchorIndex_;
  entriesChanged();
}

int TEditListBox::Add(std::string_view entry) {
  std::size_t pos = entries_.size();
  if (sorted_) {
    const auto it = std::upper_bound(
        entries_.begin(), entries_.end(), entry,
        [](std::string_view a, std::string_view b) { return compareEntries(a, b) < 0; });
    pos = static_cast<std::size_t>(it - entries_.begin());
  }
  insertAt(pos, entry);
  return static_cast<int>(pos);
}

void TEditListBox::Insert(int index, std::string_view entry) {
  if (index < 0 || index > Count()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  insertAt(static_cast<std::size_t>(index), entry);
}

void TEditListBox::Delete(int index) {
  checkIndex(index);
  entries_.erase(static_cast<std::size_t>(index));
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
  entries_.move(static_cast<std::size_t>(from), static_cast<std::size_t>(to));
  std::fill(selected_.begin(), selected_.end(), 0);
  itemIndex_ = -1;
  anchorIndex_ = -1;
  entriesChanged();
}

void TEditListBox::setItem(int index, std::string_view text) {
  checkIndex(index);
  if (entries_[static_cast<std::size_t>(index)] == text) return;
  entries_.replace(static_cast<std::size_t>(index), text);
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
  editor_.Text = std::string(entries_[static_cast<std::size_t>(itemIndex_)]);
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
      setItemIndex(Add(kNewEntryText));
      break;
    case ListKey::Insert:
      if (itemIndex_ >= 0) {
        const int at = itemIndex_;
        Insert(at, kNewEntryText);
        setItemIndex(at);
      } else if (entries_.empty()) {
        setItemIndex(Add(kNewEntryText));
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
    dragImage_.Text = std::string(entries_[static_cast<std::size_t>(itemIndex_)]);
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
      std::vector<char> text;
      error = readListFile(fd, text);
      ListEntries lines;
      if (error == 0) lines = ListEntries::fromLines(std::move(text));
      if (error == 0 && lines.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        error = EFBIG;
      }
      if (error == 0) {
        // A file the list saved itself is in order already: one pass.
        const auto less = [](std::string_view a, std::string_view b) {
          return compareEntries(a, b) < 0;
        };
        if (sorted_ && !lines.isSorted(less)) lines.stableSort(less);
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
