#pragma once

// The handlers of the message view: initialising a row (which scores its
// message), cell texts and comparison, sorting by a header click, marking by
// Space, double click, the check box and "Mark All", counting the marks, the
// context menu's column-dependent items and the copy-to-list commands.

#include <cstdint>
#include <optional>
#include <string>

#include "app/message_view.h"
#include "filter/spam_scoring.h"

namespace kelvrin::mail {
class TMailMessage;
}

namespace kelvrin::app {

class TKVmain;

inline constexpr const char* kNoText = "???????";

class MessageViewHandlers {
 public:
  explicit MessageViewHandlers(TKVmain& kv);

  // The scoring reads the lists and settings as they are when a check fills
  // the view; the check brackets its fill with these two.
  void beginScoring();
  void endScoring();

  void VTree1InitNode(ViewRow& row, std::size_t index);
  std::string VTree1GetText(const ViewRow& row, int column) const;
  int VTree1CompareNodes(const ViewRow& a, const ViewRow& b, int column) const;
  void VTree1HeaderClick(int column);
  void SetSortColumn(int column);

  // Space; returns true when the key was handled (its default action is
  // suppressed).
  bool VTree1KeyAction(bool space);
  void VTree1DblClick();
  void VTree1Checked(std::size_t index);
  // fromMarkAll1: the tray item itself (the tray menu opens again).
  void MarkAll1Click(bool fromMarkAll1 = false);
  bool Checkselected(std::int32_t Key, bool CountAll, int& Count) const;
  void VTree1ColumnClick(int column);

  void CopyToAllowed1Click();
  void CopyToBanned1Click();
  void CopyToBannedSubject1Click();
  void AddtoFavourites1Click();

  // The message a row shows, or nullptr when the list no longer has it.
  const mail::TMailMessage* messageOf(const ViewRow& row) const;

 private:
  filter::ScoringInputs scoringInputs() const;
  void setFocusedMark(bool marked);
  void copySelectedAddress(filter::TEditListBox& list, bool marked);
  void toggleAsSpace(std::size_t index);

  TKVmain& kv_;
  std::optional<filter::SpamScorer> scorer_;
};

}  // namespace kelvrin::app
