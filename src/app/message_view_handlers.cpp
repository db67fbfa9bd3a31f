#include "app/message_view_handlers.h"

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "base/ascii_text.h"
#include "filter/rule_lists.h"

namespace kelvrin::app {

MessageViewHandlers::MessageViewHandlers(TKVmain& kv) : kv_(kv) {}

filter::ScoringInputs MessageViewHandlers::scoringInputs() const {
  const auto& wizard = *kv_.KVWForm1;
  return filter::ScoringInputs{*kv_.lbBanEM,
                               *kv_.lbAllowEM,
                               *kv_.lbBanSubject,
                               *kv_.Favourites1,
                               wizard.value("SpinEdit2"),
                               wizard.value("SpinEdit3"),
                               wizard.checked("SpamOnSubject"),
                               wizard.checked("PossSpamSubj"),
                               kv_.KVmain->checked("ExtraAdds1")};
}

void MessageViewHandlers::beginScoring() {
  scorer_.emplace(scoringInputs());
}

void MessageViewHandlers::endScoring() {
  scorer_.reset();
}

const mail::TMailMessage* MessageViewHandlers::messageOf(const ViewRow& row) const {
  if (row.Node.MsgIndex < 0) return nullptr;
  const auto index = static_cast<std::size_t>(row.Node.MsgIndex);
  if (index >= kv_.MessageList1.Count()) return nullptr;
  return &kv_.MessageList1.Items(index);
}

void MessageViewHandlers::VTree1InitNode(ViewRow& row, std::size_t index) {
  filter::MessageNode& node = row.Node;
  node = filter::MessageNode{};
  node.MsgIndex = static_cast<std::int32_t>(index);
  row.ServerNumber = 0;
  if (index >= kv_.MessageList1.Count()) return;
  const mail::TMailMessage& m = kv_.MessageList1.Items(index);
  row.ServerNumber = kv_.Check().ServerNumberOf(m);
  node.From = m.From();
  node.SendTo = m.SendTo();
  node.ReplyTo = m.ReplyTo();
  node.Subject = m.Subject;

  std::string toList = node.SendTo;
  const std::string cc = m.CC();
  if (!cc.empty()) toList += " " + cc;
  const std::string bcc = m.BCC();
  if (!bcc.empty()) toList += " " + bcc;

  if (!scorer_) {
    // A row initialised outside a check's fill: score it on its own.
    filter::ScoringInputs inputs = scoringInputs();
    node.SpamLevel = filter::GetSpamLevel(inputs, node.From, toList, node.Subject, node, kv_.State);
  } else {
    node.SpamLevel = scorer_->GetSpamLevel(node.From, toList, node.Subject, node, kv_.State);
  }
  // The initial mark; the change event is not fired for it. A message whose
  // header block never arrived (its retrieval was refused) looks like one
  // without subject or recipients and would score as spam; it is not marked,
  // so a deletion can never take it for what it is not.
  const bool headerRead = !(m.Headers.empty() && m.Size == 0);
  if (node.SpamLevel > 7 && headerRead) row.Checked = true;
  node.UIDL = m.UIDL;
}

std::string MessageViewHandlers::VTree1GetText(const ViewRow& row, int column) const {
  if (column == kColSpam) return {};
  const mail::TMailMessage* m = messageOf(row);
  if (column == kColIndex) return std::to_string(row.Node.MsgIndex);
  if (m == nullptr) return kNoText;
  switch (column) {
    case kColFrom: {
      std::string from = m->From();
      return from.empty() ? std::string(" ") : from;
    }
    case kColTo:
      return m->SendTo();
    case kColSubject:
      return m->Subject;
    case kColDate:
      return m->DateText;
    default:
      return {};
  }
}

int MessageViewHandlers::VTree1CompareNodes(const ViewRow& a, const ViewRow& b, int column) const {
  switch (column) {
    case kColSpam:
      return a.Node.SpamLevel - b.Node.SpamLevel;
    case kColFrom:
    case kColTo:
    case kColSubject:
    case kColDate:
      return base::compareFoldingAscii(VTree1GetText(a, column), VTree1GetText(b, column));
    case kColIndex:
      return a.Node.MsgIndex - b.Node.MsgIndex;
    default:
      return 0;
  }
}

void MessageViewHandlers::VTree1HeaderClick(int column) {
  auto& view = kv_.VTree1;
  const std::optional<std::size_t> focused = view.FocusedRow();
  const std::optional<std::uint32_t> focusedId =
      focused ? std::optional<std::uint32_t>(view.Row(*focused).Id) : std::nullopt;
  view.BeginUpdate();
  if (column == view.SortColumn()) {
    view.setSortDirection(view.Direction() == SortDirection::Ascending ? SortDirection::Descending
                                                                       : SortDirection::Ascending);
  } else {
    view.setSortColumn(column);
    view.setSortDirection(SortDirection::Ascending);
  }
  view.Sort();
  view.EndUpdate();
  if (focusedId) {
    if (auto index = view.IndexOfId(*focusedId)) view.ScrollIntoView(*index);
  }
  try {
    kv_.Settings.setColumn(column);
  } catch (const std::exception& e) {
    kv_.dfsStatus.setStatus(failureStatus(e.what()));
  }
}

void MessageViewHandlers::SetSortColumn(int column) {
  auto& view = kv_.VTree1;
  const bool enabled = view.Enabled();
  view.setEnabled(false);
  view.setSortColumn(column);
  view.setEnabled(enabled);
}

void MessageViewHandlers::toggleAsSpace(std::size_t index) {
  auto& view = kv_.VTree1;
  if (view.Row(index).Checked) {
    view.setChecked(index, false);
  } else {
    kv_.DelButtonEnable(true);
    if (kv_.Commands.Visible("DeleteAll1")) {
      kv_.Commands.setEnabled("DeleteAll1", kv_.State.OnlineState == kOnline);
    }
    view.setChecked(index, true);
  }
}

bool MessageViewHandlers::VTree1KeyAction(bool space) {
  if (!space) return false;
  for (std::size_t index : kv_.VTree1.SelectedRows())
    toggleAsSpace(index);
  return true;
}

void MessageViewHandlers::VTree1DblClick() {
  auto& view = kv_.VTree1;
  if (!view.FocusedRow()) return;
  const auto selected = view.SelectedRows();
  if (selected.empty()) return;
  toggleAsSpace(selected.front());
  if (view.Row(selected.front()).Checked) {
    kv_.Commands.setEnabled({"btDelall1", "ToolButton5"}, kv_.State.OnlineState == kOnline);
  }
}

void MessageViewHandlers::VTree1Checked(std::size_t /*index*/) {
  kv_.DelButtonEnable(true);
}

void MessageViewHandlers::MarkAll1Click(bool fromMarkAll1) {
  auto& view = kv_.VTree1;
  auto& cmd = kv_.Commands;
  if (view.RootNodeCount() == 0) {
    cmd.setVisible({"MarkAll1", "N3"}, false);
    return;
  }
  for (std::size_t i = 0; i < view.RootNodeCount(); ++i)
    view.setChecked(i, true);
  kv_.DelButtonEnable(true);
  const bool online = kv_.State.OnlineState == kOnline;
  if (cmd.Visible("DeleteAll1")) cmd.setEnabled("DeleteAll1", online);
  cmd.setEnabled({"btDelall1", "ToolButton5"}, online);
  if (fromMarkAll1) kv_.windowPort().PopupTrayMenu();
}

bool MessageViewHandlers::Checkselected(std::int32_t Key, bool CountAll, int& Count) const {
  Count = 0;
  bool result = false;
  for (const ViewRow& row : kv_.VTree1.rows()) {
    if (row.Checked) {
      result = true;
      ++Count;
    }
    if (!CountAll && row.Node.MsgIndex == Key) break;
  }
  return result;
}

void MessageViewHandlers::VTree1ColumnClick(int column) {
  if (!kv_.VTree1.FocusedRow()) return;
  auto& cmd = kv_.Commands;
  const bool addressColumn = column == kColFrom || column == kColTo;
  cmd.setVisible({"CopyToBanned1", "CopyToAllowed1"}, addressColumn);
  cmd.setVisible("AddtoFavourites1", column == kColFrom && kv_.TabSheet2Visible);
  cmd.setVisible("CopyToBannedSubject1", column == kColSubject);
  cmd.setVisible("QuickReply1", true);
}

void MessageViewHandlers::setFocusedMark(bool marked) {
  auto& view = kv_.VTree1;
  if (auto focused = view.FocusedRow()) view.setChecked(*focused, marked);
}

// The copy commands work on the active control: the cell editor while the
// user edits a cell, and on its selected text.

void MessageViewHandlers::copySelectedAddress(filter::TEditListBox& list, bool marked) {
  auto& view = kv_.VTree1;
  if (view.Editor().Editing) {
    const std::string selected = view.Editor().SelectedText;
    if (selected.empty()) {
      kv_.windowPort().PostClickAtClientOrigin();
    } else {
      filter::copyAddressToList(list, selected);
    }
    setFocusedMark(marked);
  }
  view.CancelCellEdit();
}

void MessageViewHandlers::CopyToAllowed1Click() {
  copySelectedAddress(*kv_.lbAllowEM, false);
}

void MessageViewHandlers::CopyToBanned1Click() {
  copySelectedAddress(*kv_.lbBanEM, true);
}

void MessageViewHandlers::CopyToBannedSubject1Click() {
  auto& view = kv_.VTree1;
  if (view.Editor().Editing) {
    const std::string selected = view.Editor().SelectedText;
    if (!selected.empty()) filter::copySubjectToList(*kv_.lbBanSubject, selected);
    setFocusedMark(true);
  }
  view.CancelCellEdit();
}

void MessageViewHandlers::AddtoFavourites1Click() {
  auto& view = kv_.VTree1;
  if (view.Editor().Editing) {
    const std::string selected = view.Editor().SelectedText;
    if (!selected.empty()) {
      filter::addToFavourites(*kv_.Favourites1, selected);
      setFocusedMark(false);
    }
  } else {
    kv_.windowPort().PostClickAtClientOrigin();
  }
  view.CancelCellEdit();
}

}  // namespace kelvrin::app
