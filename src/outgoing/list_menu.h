#pragma once

// Popup3: the context menu of the favourites, the website list and the
// settings wizard's three rule lists ("MailTo", "Edit", "Delete", "Paste").
// Which items a list offers, how the entry under the pointer is taken, and
// what "Edit" and "Delete" do to the list.

#include "filter/edit_list_box.h"

namespace kelvrin::outgoing {

enum class ListMenuOwner { Favourites, Websites, RuleList };

enum class ListMenuItem { MailTo, Edit, Delete, Paste };

struct ListMenuItems {
  bool MailTo = false;
  bool Edit = false;
  bool Delete = false;
  bool Paste = false;
};

// The items shown for a list.
ListMenuItems Popup3Items(ListMenuOwner owner);

// Opening the menu over entry `index` (-1: no entry under the pointer): that
// entry becomes the focused one and is selected, beside whatever was
// selected already; a single-selection list stays single-selection.
void Popup3Popup(filter::TEditListBox& list, int index);

// "Delete" removes the focused entry, "Edit" opens the editor on it. The
// others act outside the list and do nothing here. True when the entries
// changed.
bool Pop3click(filter::TEditListBox& list, ListMenuItem item);

}  // namespace kelvrin::outgoing
