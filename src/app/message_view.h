#pragma once

// The message view (VTree1) as state: one row per message of the last check,
// each with its MessageNode, its mark (the check box) and whether it has been
// initialised; the sort column and direction, focus, selection, the enabled
// state, the hint, the update bracket and the cell editor. The GUI renders it
// and feeds the user's actions into the handlers; it never changes a row
// itself.
//
// Rows are initialised lazily: setting the root node count creates rows that
// are not yet initialised, and ending the outermost update initialises every
// one of them in row order (OnInitNode scores the message) and then sorts.
//
// Rows live in a vector that sorting reorders, so a caller that lets events
// run must not keep a reference to a row across that; use the row's Id.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "filter/message_node.h"
#include "notify/change_notifier.h"

namespace kelvrin::app {

enum Column : int {
  kColSpam = 0,
  kColFrom = 1,
  kColTo = 2,
  kColSubject = 3,
  kColDate = 4,
  kColIndex = 5,
};
inline constexpr int kColumnCount = 6;

struct ColumnInfo {
  const char* Header;
  int Width;  // -1: the control's default
};
inline constexpr ColumnInfo kColumns[kColumnCount] = {
    {"Spam%", 80}, {"From", 200}, {"To", 200}, {"Subject", 400}, {"Date", 95}, {"#", -1},
};

enum class SortDirection { Ascending, Descending };

struct ViewRow {
  filter::MessageNode Node;
  bool Checked = false;  // marked for deletion on the server
  bool Initialized = false;
  bool Selected = false;
  std::uint32_t Id = 0;  // the row's number when it was created; survives sorting
  // The message's number in the session of the check that listed it; 0 when
  // not known.
  std::uint16_t ServerNumber = 0;
};

// The in-place cell editor (F2 on the focused cell).
struct CellEditor {
  bool Editing = false;
  int Column = -1;
  std::string Text;
  std::string SelectedText;
};

// What changed in the rows, for a front end that must forward exactly that.
// Structural changes come in pairs, announced before and after they happen,
// also inside the update bracket; row data comes as a range of rows.
struct ViewChange {
  enum class Kind {
    ResetBegins,  // every row is about to go (a fill begins)
    ResetEnds,
    RowsAddBegins,  // rows First .. First+Count-1 are about to be appended
    RowsAdded,
    RowsRemoveBegins,  // rows First .. First+Count-1 are about to go
    RowsRemoved,
    RowsChanged,  // the data or mark of rows First .. First+Count-1
    SortBegins,   // the order is about to change; rows keep their Id
    Sorted,
  };
  Kind What;
  std::size_t First = 0;
  std::size_t Count = 0;
};

inline constexpr const char* kHintDesign = "Click caption '?' button then click here for Tree help";

class MessageViewModel {
 public:
  MessageViewModel();

  // Rows ------------------------------------------------------------------
  std::size_t RootNodeCount() const { return rows_.size(); }
  // Adds uninitialised rows or drops rows from the end.
  void setRootNodeCount(std::size_t count);
  // Removes every row (focus, selection and editor go with them).
  void Clear();
  ViewRow& Row(std::size_t index) { return rows_.at(index); }
  const ViewRow& Row(std::size_t index) const { return rows_.at(index); }
  std::optional<std::size_t> IndexOfId(std::uint32_t id) const;
  const std::vector<ViewRow>& rows() const { return rows_; }

  // Marks ------------------------------------------------------------------
  // Changes a row's mark; when it changed, CheckedChanged fires (the
  // VTree1Checked handler).
  void setChecked(std::size_t index, bool checked);
  notify::ChangeNotifier<std::size_t>& CheckedChanged() { return checkedChanged_; }

  // Focus and selection -------------------------------------------------------
  std::optional<std::size_t> FocusedRow() const;
  // Focuses a row (or none); the focus follows its row through sorting.
  void setFocusedRow(std::optional<std::size_t> index);
  void setSelected(std::size_t index, bool selected);
  // Selects one row alone and focuses it, as a plain click does.
  void selectOnly(std::size_t index);
  std::size_t SelectedCount() const;
  // The selected rows in row order.
  std::vector<std::size_t> SelectedRows() const;

  // Sorting ------------------------------------------------------------------
  int SortColumn() const { return sortColumn_; }
  void setSortColumn(int column);
  SortDirection Direction() const { return direction_; }
  void setSortDirection(SortDirection direction);
  // Stable sort of all rows by the sort column and direction through
  // OnCompareNodes; rows that compare equal keep their order.
  void Sort();

  // Appearance -----------------------------------------------------------------
  bool Enabled() const { return enabled_; }
  void setEnabled(bool enabled);
  const std::string& Hint() const { return hint_; }
  void setHint(std::string hint);
  int ClientHeight() const { return clientHeight_; }
  void setClientHeight(int pixels) { clientHeight_ = pixels; }
  int ColumnWidth(int column) const;
  void setColumnWidth(int column, int width);
  // Asks the GUI to scroll a row into view, centred.
  void ScrollIntoView(std::size_t index);
  notify::ChangeNotifier<std::size_t>& ScrollRequested() { return scrollRequested_; }

  // The update bracket -------------------------------------------------------------
  void BeginUpdate();
  // Ending the outermost update initialises every uninitialised row and
  // sorts; ending when none is open does nothing.
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  // The cell editor -------------------------------------------------------------
  const CellEditor& Editor() const { return editor_; }
  // Opens the editor on a column of the focused row with the cell's text.
  void EditCell(int column, std::string text);
  void setEditorSelection(std::string selectedText);
  void CancelCellEdit();

  // Handlers the owner installs -----------------------------------------------------
  // Initialises one row (VTree1InitNode); the index is the row's position.
  std::function<void(ViewRow& row, std::size_t index)> OnInitNode;
  // Compares two rows for a column (VTree1CompareNodes).
  std::function<int(const ViewRow& a, const ViewRow& b, int column)> OnCompareNodes;

  // Any change of the rows, the sort, focus, selection or appearance.
  notify::ChangeNotifier<>& changed() { return changed_; }
  // Exactly what changed in the rows.
  notify::ChangeNotifier<const ViewChange&>& rowsChanged() { return rowsChanged_; }

 private:
  void initializeRows();
  void notifyChanged();
  void announce(ViewChange::Kind what, std::size_t first = 0, std::size_t count = 0) {
    rowsChanged_.notify(ViewChange{what, first, count});
  }

  std::vector<ViewRow> rows_;
  std::uint32_t nextId_ = 0;
  std::optional<std::uint32_t> focusedId_;
  int sortColumn_ = kColSpam;
  SortDirection direction_ = SortDirection::Descending;
  bool enabled_ = true;
  std::string hint_ = kHintDesign;
  int clientHeight_ = 491;
  int columnWidths_[kColumnCount] = {80, 200, 200, 400, 95, 50};
  int updateCount_ = 0;
  CellEditor editor_;
  notify::ChangeNotifier<std::size_t> checkedChanged_;
  notify::ChangeNotifier<std::size_t> scrollRequested_;
  notify::ChangeNotifier<> changed_;
  notify::ChangeNotifier<const ViewChange&> rowsChanged_;
};

}  // namespace kelvrin::app
