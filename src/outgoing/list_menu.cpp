#include "outgoing/list_menu.h"

namespace kelvrin::outgoing {

ListMenuItems Popup3Items(ListMenuOwner owner) {
  ListMenuItems items;
  items.MailTo = owner == ListMenuOwner::Favourites;
  items.Edit = owner == ListMenuOwner::RuleList;
  items.Delete = true;
  items.Paste = false;
  return items;
}

void Popup3Popup(filter::TEditListBox& list, int index) {
  if (index < 0 || index >= list.Count()) return;
  const bool multiSelect = list.MultiSelect();
  // Selecting with multiple selection on adds the entry and focuses it;
  // switching it back off leaves the focused entry alone.
  list.setMultiSelect(true);
  list.setSelected(index, true);
  list.setMultiSelect(multiSelect);
}

bool Pop3click(filter::TEditListBox& list, ListMenuItem item) {
  const int focused = list.ItemIndex();
  if (focused < 0 || focused >= list.Count()) return false;
  switch (item) {
    case ListMenuItem::Delete:
      list.Delete(focused);
      return true;
    case ListMenuItem::Edit:
      list.EditSelected();
      return false;
    case ListMenuItem::MailTo:
    case ListMenuItem::Paste:
      break;
  }
  return false;
}

}  // namespace kelvrin::outgoing
