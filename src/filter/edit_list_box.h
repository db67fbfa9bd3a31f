#pragma once

// TEditListBox: a sorted list of text entries that the user edits in place,
// loaded from a text file in the settings home and written back when the
// program ends. Every rule list, the favourites and the web-site list are one.
//
// This is the behaviour of the list without any toolkit: entries, selection,
// the in-place editor, the keys, the Ctrl-drag move and the list file. The GUI
// renders this state and feeds the user's input into it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii_text.h"
#include "filter/list_entries.h"

namespace kelvrin::filter {

// A list file that cannot be read or written; what() names the file and the
// reason ("Cannot read the list file /home/u/.config/kelvrin/KelvBanEM.txt:
// Permission denied").
class ListFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::string_view kEditListBoxHint =
    "Double-click an entry lets you edit it you must press [Enter] when finished each entry.\r\n"
    "Click on, then [Delete] button deletes it.\r\n"
    "Click on, then [Insert] button lets you add to it you must press [Enter] when finished each "
    "entry.\r\n"
    "Scrolling by [up] [down] arrow keys when in listbox eg blue selection line.";

// The text every new entry starts with.
inline constexpr std::string_view kNewEntryText = "new";

// 0xRRGGBB.
inline constexpr std::uint32_t kDragColorYellow = 0xFFFF00;

// Order of a sorted list: bytes compared one by one as unsigned codes after
// folding the ASCII letters A-Z to a-z; a text that is a prefix of another
// sorts first. Entries equal under this rule keep the order in which they
// arrived (a new one goes after its equals; a loaded file keeps its order).
// Returns <0, 0 or >0.
inline int compareEntries(std::string_view a, std::string_view b) {
  return base::compareFoldingAscii(a, b);
}

// The keys the list acts on when they are released.
enum class ListKey { NumpadPlus, Insert, Delete, F2 };

// The keys the editor acts on.
enum class EditorKey { Enter, Escape };

struct ShiftState {
  bool Shift = false;
  bool Ctrl = false;
};

struct TextExtent {
  int Width = 0;
  int Height = 0;
};

// The in-place editor (a borderless single-line edit over the entry).
struct TListBoxEdit {
  bool Visible = false;
  bool Focused = false;
  int EntryIndex = -1;  // the entry it was opened on
  std::string Text;
  std::size_t SelStart = 0;
  std::size_t SelLength = 0;
};

// The image that follows the mouse during a Ctrl-drag.
struct TImgBox {
  bool Visible = false;
  std::string Text;
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

class TEditListBox {
 public:
  TEditListBox();

  // Name of the list's file inside the list-file folder; empty: no file.
  const std::string& AutoFileName() const { return autoFileName_; }
  void setAutoFileName(std::string name) { autoFileName_ = std::move(name); }
  // The settings home the list file lives in.
  const std::filesystem::path& listFileFolder() const { return listFileFolder_; }
  void setListFileFolder(std::filesystem::path folder) { listFileFolder_ = std::move(folder); }
  std::filesystem::path listFilePath() const { return listFileFolder_ / autoFileName_; }

  std::uint32_t DragColor() const { return dragColor_; }
  void setDragColor(std::uint32_t rgb) { dragColor_ = rgb; }
  bool Sorted() const { return sorted_; }
  void setSorted(bool sorted) { sorted_ = sorted; }
  bool MultiSelect() const { return multiSelect_; }
  void setMultiSelect(bool multiSelect);
  const std::string& Hint() const { return hint_; }
  void setHint(std::string hint) { hint_ = std::move(hint); }

  // Entries. Indexes out of range throw std::out_of_range. A view of an
  // entry stays valid until the entries next change.
  int Count() const { return static_cast<int>(entries_.size()); }
  std::string_view Items(int index) const;
  const ListEntries& entries() const { return entries_; }
  // At the sorted position in a sorted list, else at the end; returns the index.
  int Add(std::string_view entry);
  // Exactly at index (0..Count), even in a sorted list.
  void Insert(int index, std::string_view entry);
  void Delete(int index);
  // The entry leaves its place and is inserted at `to`; a sorted list is not
  // re-sorted until it is loaded again.
  void Move(int from, int to);
  // Replaces the text of an entry in place.
  void setItem(int index, std::string_view text);
  void Clear();

  // Selection. ItemIndex is the selected (in multiple selection: the focused)
  // entry, -1 for none; setting it selects that entry alone.
  int ItemIndex() const { return itemIndex_; }
  void setItemIndex(int index);
  bool Selected(int index) const;
  void setSelected(int index, bool selected);
  int SelCount() const;

  // Index of the first entry that equals S, or with Partial contains it
  // (ASCII letter case ignored unless CaseSensitive); -1 if none. Selects the
  // hit or clears the selection. An empty S hits only an empty entry.
  int Search(std::string_view S, bool Partial, bool CaseSensitive);

  // The in-place editor.
  const TListBoxEdit& editor() const { return editor_; }
  bool listFocused() const { return listFocused_; }
  // Opens the editor on the selected entry, if any.
  void EditSelected();
  // What the user typed into the open editor.
  void setEditorText(std::string text);
  // Enter stores the editor's text into the selected entry, Esc drops it;
  // both close the editor and give the focus back to the list.
  void EditorKeyDown(EditorKey key);

  // Keys in the list. KeyPress returns whether the character goes on to the
  // list (only Space does; every other typed character is swallowed).
  bool KeyPress(char key);
  void KeyUp(ListKey key);

  // The mouse. The caller reports the entry under the mouse to Click as the
  // platform's list box selected it (-1 when the click hit no entry).
  void MouseDown(ShiftState shift, int x, int y);
  void MouseMove(int x, int y);
  void Click(ShiftState shift, int index);
  void DblClick();
  bool Dragging() const { return dragging_; }
  bool ButtonDown() const { return buttonDown_; }
  int DragFromIndex() const { return dragFromIndex_; }
  const TImgBox& dragImage() const { return dragImage_; }

  // Size of a text in the list's font; the GUI sets it to its font metrics.
  std::function<TextExtent(std::string_view)> measureText;
  // The list's own events, fired after its own handling.
  std::function<void(ShiftState, int, int)> OnMouseDown;
  std::function<void()> OnClick;
  std::function<void()> OnDblClick;

  // Replaces the entries by the lines of the list file when it exists and
  // selects the first entry. A missing file leaves the entries as they are.
  // Throws ListFileError when the file exists but cannot be read; the entries
  // in place stay.
  void loadList();
  // Writes every entry, each ended by CR LF, replacing the file atomically.
  // Does nothing without AutoFileName, and nothing after a failed load unless
  // the list was changed since, so a file that could not be read is never
  // overwritten by defaults. Throws ListFileError when it cannot write.
  void SaveList();

  // Whether the entries changed since they were loaded or saved.
  bool modified() const { return modified_; }
  void setModified(bool modified) { modified_ = modified; }
  bool loadFailed() const { return loadFailed_; }
  // Grows with every change of the entries, so that a reader that caches
  // derived data knows when to refresh it.
  std::uint64_t revision() const { return revision_; }

 private:
  void checkIndex(int index) const;
  void entriesChanged();
  void insertAt(std::size_t pos, std::string_view entry);
  void hideDragImage();

  ListEntries entries_;
  std::vector<char> selected_;
  int itemIndex_ = -1;
  int anchorIndex_ = -1;

  std::string autoFileName_;
  std::filesystem::path listFileFolder_;
  std::uint32_t dragColor_ = kDragColorYellow;
  bool sorted_ = false;
  bool multiSelect_ = false;
  std::string hint_{kEditListBoxHint};

  TListBoxEdit editor_;
  bool listFocused_ = false;
  TImgBox dragImage_;
  bool dragging_ = false;
  bool buttonDown_ = false;
  int dragFromIndex_ = -1;

  bool modified_ = false;
  bool loadFailed_ = false;
  std::uint64_t revision_ = 0;
};

}  // namespace kelvrin::filter
