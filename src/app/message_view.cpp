#include "app/message_view.h"

#include <algorithm>
#include <stdexcept>

namespace kelvrin::app {

MessageViewModel::MessageViewModel() = default;

void MessageViewModel::notifyChanged() {
  if (updateCount_ == 0) changed_.notify();
}

void MessageViewModel::setRootNodeCount(std::size_t count) {
  const std::size_t old = rows_.size();
  if (count < old) {
    announce(ViewChange::Kind::RowsRemoveBegins, count, old - count);
    rows_.resize(count);
    if (focusedId_ && !IndexOfId(*focusedId_)) focusedId_.reset();
    announce(ViewChange::Kind::RowsRemoved, count, old - count);
  } else if (count > old) {
    announce(ViewChange::Kind::RowsAddBegins, old, count - old);
    rows_.reserve(count);
    while (rows_.size() < count) {
      ViewRow row;
      row.Id = nextId_++;
      rows_.push_back(std::move(row));
    }
    announce(ViewChange::Kind::RowsAdded, old, count - old);
  }
  notifyChanged();
}

void MessageViewModel::Clear() {
  announce(ViewChange::Kind::ResetBegins);
  rows_.clear();
  rows_.shrink_to_fit();
  nextId_ = 0;
  focusedId_.reset();
  editor_ = CellEditor{};
  announce(ViewChange::Kind::ResetEnds);
  notifyChanged();
}

std::optional<std::size_t> MessageViewModel::IndexOfId(std::uint32_t id) const {
  // Rows are created in id order and usually still there: try the direct slot.
  if (id < rows_.size() && rows_[id].Id == id) return id;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Id == id) return i;
  }
  return std::nullopt;
}

void MessageViewModel::setChecked(std::size_t index, bool checked) {
  ViewRow& row = rows_.at(index);
  if (row.Checked == checked) return;
  row.Checked = checked;
  announce(ViewChange::Kind::RowsChanged, index, 1);
  checkedChanged_.notify(index);
  notifyChanged();
}

std::optional<std::size_t> MessageViewModel::FocusedRow() const {
  if (!focusedId_) return std::nullopt;
  return IndexOfId(*focusedId_);
}

void MessageViewModel::setFocusedRow(std::optional<std::size_t> index) {
  if (index) {
    focusedId_ = rows_.at(*index).Id;
  } else {
    focusedId_.reset();
  }
  notifyChanged();
}

void MessageViewModel::setSelected(std::size_t index, bool selected) {
  rows_.at(index).Selected = selected;
  notifyChanged();
}

void MessageViewModel::selectOnly(std::size_t index) {
  ViewRow& target = rows_.at(index);
  for (auto& row : rows_)
    row.Selected = false;
  target.Selected = true;
  focusedId_ = target.Id;
  notifyChanged();
}

std::size_t MessageViewModel::SelectedCount() const {
  return static_cast<std::size_t>(
      std::count_if(rows_.begin(), rows_.end(), [](const ViewRow& r) { return r.Selected; }));
}

std::vector<std::size_t> MessageViewModel::SelectedRows() const {
  std::vector<std::size_t> result;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Selected) result.push_back(i);
  }
  return result;
}

void MessageViewModel::setSortColumn(int column) {
  sortColumn_ = column;
  notifyChanged();
}

void MessageViewModel::setSortDirection(SortDirection direction) {
  direction_ = direction;
  notifyChanged();
}

void MessageViewModel::Sort() {
  if (!OnCompareNodes || sortColumn_ < 0) return;
  const int column = sortColumn_;
  announce(ViewChange::Kind::SortBegins);
  if (direction_ == SortDirection::Ascending) {
    std::stable_sort(rows_.begin(), rows_.end(), [&](const ViewRow& a, const ViewRow& b) {
      return OnCompareNodes(a, b, column) < 0;
    });
  } else {
    std::stable_sort(rows_.begin(), rows_.end(), [&](const ViewRow& a, const ViewRow& b) {
      return OnCompareNodes(b, a, column) < 0;
    });
  }
  announce(ViewChange::Kind::Sorted);
  notifyChanged();
}

void MessageViewModel::setEnabled(bool enabled) {
  enabled_ = enabled;
  notifyChanged();
}

void MessageViewModel::setHint(std::string hint) {
  hint_ = std::move(hint);
  notifyChanged();
}

int MessageViewModel::ColumnWidth(int column) const {
  if (column < 0 || column >= kColumnCount) throw std::out_of_range("no such column");
  return columnWidths_[column];
}

void MessageViewModel::setColumnWidth(int column, int width) {
  if (column < 0 || column >= kColumnCount) throw std::out_of_range("no such column");
  columnWidths_[column] = width;
  notifyChanged();
}

void MessageViewModel::ScrollIntoView(std::size_t index) {
  if (index < rows_.size()) scrollRequested_.notify(index);
}

void MessageViewModel::BeginUpdate() {
  ++updateCount_;
}

void MessageViewModel::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ > 0) return;
  initializeRows();
  Sort();
  changed_.notify();
}

void MessageViewModel::initializeRows() {
  // By index: an initialisation handler may not add or remove rows, but it
  // may be slow; nothing here holds a reference across it.
  std::optional<std::size_t> first;
  std::size_t last = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Initialized) continue;
    rows_[i].Initialized = true;
    if (OnInitNode) OnInitNode(rows_[i], i);
    if (!first) first = i;
    last = i;
  }
  if (first) announce(ViewChange::Kind::RowsChanged, *first, last - *first + 1);
}

void MessageViewModel::EditCell(int column, std::string text) {
  editor_.Editing = true;
  editor_.Column = column;
  editor_.Text = std::move(text);
  editor_.SelectedText.clear();
  notifyChanged();
}

void MessageViewModel::setEditorSelection(std::string selectedText) {
  editor_.SelectedText = std::move(selectedText);
}

void MessageViewModel::CancelCellEdit() {
  editor_ = CellEditor{};
  notifyChanged();
}

}  // namespace kelvrin::app
