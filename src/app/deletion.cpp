#include "app/deletion.h"

#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/message_view_handlers.h"
#include "app/session_guard.h"
#include "base/rounding.h"

namespace kelvrin::app {

namespace {

constexpr int kCountdownCancelled = 10;

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

Deletion::Deletion(TKVmain& kv) : kv_(kv) {}

int Deletion::ReturnUIDLpos(const std::string& UIDL) const {
  const std::string_view wanted = trimBlanks(UIDL);
  if (wanted.empty() || kv_.UIDLList.empty()) return -1;
  // Only the whole id: a longer id that merely contains the wanted one (the
  // same digits at its end, say) belongs to another message.
  for (std::size_t i = 0; i < kv_.UIDLList.size(); ++i) {
    if (trimBlanks(kv_.UIDLList[i]) == wanted) return static_cast<int>(i) + 1;
  }
  // A position no message has: the server refuses the DELE rather than the
  // deletion falling back to an old position.
  return static_cast<int>(kv_.UIDLList.size()) + 1;
}

bool Deletion::CheckB4Del() {
  auto& s = kv_.State;
  if (!kv_.KVmain->checked("WarnDelNoSpam1") || s.ValidCount == 0) return true;
  if (!kv_.mainWindowVisible()) {
    return kv_.Prompter.MsgBox("Non-spam messages!\rSure you want to delete?", "Kelvrin", false,
                               ui::kMbYesNo + ui::kMbIconExclamation) == ui::kIdYes;
  }
  ui::ProgressBoxArgs box;
  box.text = "Non-spam messages!\r[Cancel] aborts delete";
  box.caption = "Kelvrin";
  box.cancelButton = true;
  box.gauge = true;
  box.min = 0;
  box.max = 4;
  kv_.Prompter.ProgressBoxOpen(box, [this] {
    // The receiver of the box's Cancel closes it and notes the cancel.
    kv_.Prompter.ProgressBoxClose();
    kv_.State.CountdownCancelled = kCountdownCancelled;
  });
  for (int step = 0; step < 4; ++step) {
    kv_.Delay(1000);
    kv_.Prompter.ProgressBoxStep(1);
  }
  kv_.Prompter.ProgressBoxClose();
  kv_.Delay(10);
  const bool result = s.CountdownCancelled != kCountdownCancelled;
  s.CountdownCancelled = 0;
  return result;
}

void Deletion::btDeleteClick(int originTag, bool automatic) {
  auto& s = kv_.State;
  auto& client = kv_.Pop3Client1;
  auto& view = kv_.VTree1;
  auto& cmd = kv_.Commands;
  CheckCycle& cycle = kv_.Check();

  cmd.setEnabled({"BtCancel", "ToolButton8"}, true);
  if (s.CheckInProgress || sessionOwned(s)) return;
  const int origin = originTag;
  if (view.RootNodeCount() == 0) return;
  if (!automatic) cycle.userActed();

  // Held from before the countdown of Delete All: no check may refill the
  // view while the user is warned about the rows it shows.
  SessionGuard session(kv_, SessionOperation::Deletion);
  cancelsAtStart_ = cycle.CancelCount();
  const auto cancelled = [&] { return cycle.CancelCount() != cancelsAtStart_; };

  if (origin == kTagDeleteAll) {
    if (!CheckB4Del()) return;
    if (cancelled()) {
      // Esc during the countdown: nothing was sent yet.
      session.settleCancel();
      return;
    }
    kv_.View().MarkAll1Click();
  }

  if (!kv_.View().Checkselected(0, true, markedCount_)) {
    if (kv_.mainWindowVisible() && origin != kTagSendReceive) {
      kv_.Prompter.InfoBox("Nothing marked to delete");
    }
    return;
  }

  running_ = true;
  struct RunningFlag {
    bool& flag;
    ~RunningFlag() { flag = false; }
  } runningFlag{running_};
  deleted_.clear();
  lastCompleted_ = false;
  failedRecord_ = false;

  // Without unique ids the rows' positions hold only in the very session
  // their check listed them in; any other one (a later check's, even if it
  // is the one now open) is as good as none.
  s.CheckInProgress = client.Connected() && (s.UIDLCapable || s.SessionSerial == s.ListedSession);

  if (kv_.mainWindowVisible() && origin != kTagSpamDelete && kv_.KVmain->checked("MinOnDel1")) {
    s.MainWindowVisible = false;
    kv_.windowPort().MinimizeApplication();
  }

  s.ConnectEventCount = 3;
  kv_.DelButtonEnable(false);

  if (s.OnlineState == kOffline || (!s.UIDLCapable && !s.CheckInProgress)) {
    if (!s.UIDLCapable) {
      kv_.Prompter.InfoBox("Not UIDcapable - Disconnected\rLogin to Delete");
      kv_.DelButtonEnable(true);
      s.CheckInProgress = false;
      return;
    }
    if (kv_.KVWForm1->value("KVWccntypeGroup") == 1) kv_.dialUp().StartDialler();
  }

  s.OnlineState = kOnline;

  if (s.UIDLCapable) {
    // Positions come from the id list of a fresh session; a session still
    // held (the version check's) may already have deleted messages, which
    // the id list would leave out.
    if (client.Connected()) client.Quit();
    s.CheckInProgress = true;
    s.CheckInProgress = kv_.InitComms();
  }

  if (s.CheckInProgress && cancelled()) {
    // Cancelled while the session was being opened: nothing was deleted, and
    // nothing may be.
    session.settleCancel(/*closeWithoutQuit=*/true);
    s.CheckInProgress = false;
  }

  if (!s.CheckInProgress) {
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle,
                            kv_.mainWindowVisible() ? notify::kIdleOffline : notify::kIdleOnline);
    if (kv_.dialUp().SystemConnectionUp()) kv_.dialUp().HangUp();
    kv_.DelButtonEnable(true);
    return;
  }

  kv_.VtreeToFront();
  view.BeginUpdate();
  deletedCount_ = 0;

  if (s.UIDLCapable) {
    kv_.UIDLList.clear();
    client.GetUIDLList(kv_.UIDLList);
  }

  s.LastListedCount = 0;

  if (client.MessageCount > 0) {
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayDeleting, 0);
    // The rows by identity, as they stand now: the user may re-sort the view
    // while a DELE is awaited, and each row must be visited exactly once.
    // Each row's mark is still read when the walk reaches it.
    std::vector<std::pair<std::uint32_t, std::size_t>> walk;  // id, position now
    walk.reserve(view.RootNodeCount());
    for (std::size_t i = 0; i < view.RootNodeCount(); ++i)
      walk.emplace_back(view.Row(i).Id, i);
    bool abort = false;
    for (const auto& [id, position] : walk) {
      if (abort) break;
      std::optional<std::size_t> index;
      if (position < view.RootNodeCount() && view.Row(position).Id == id) {
        index = position;
      } else {
        index = view.IndexOfId(id);
      }
      if (index) DeleteRecord(*index, abort);
    }
  }
  if (cancelled()) {
    // None of the DELEs of this session may take effect.
    session.settleCancel(/*closeWithoutQuit=*/true);
  }
  if (!s.CheckInProgress || cancelled()) {
    // Cancelled, or the client reported an error: the rows stay.
    s.CheckInProgress = false;
    view.EndUpdate();
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleOnline);
    kv_.DelButtonEnable(true);
    return;
  }
  lastCompleted_ =
      static_cast<int>(deleted_.size()) == markedCount_ && !errorReported_ && !failedRecord_;

  view.Clear();
  view.EndUpdate();
  s.CheckInProgress = false;
  kv_.DelButtonEnable(true);

  notify::TrayIconDisplay(
      kv_.TrayIcon1, notify::kTrayIdle,
      kv_.KVWForm1->value("Interval1") == 0 ? notify::kIdleTimedChecksOff : notify::kIdleOnline);

  running_ = false;
  // The follow-up check takes the session over; its first step quits this
  // one, which makes the DELEs final.
  session.release();
  if (origin != kTagSendReceive) kv_.GetServerMessages();
}

void Deletion::DeleteRecord(std::size_t rowIndex, bool& Abort) {
  auto& s = kv_.State;
  auto& client = kv_.Pop3Client1;
  CheckCycle& cycle = kv_.Check();
  const auto cancelled = [&] { return cycle.CancelCount() != cancelsAtStart_; };

  Abort = !s.CheckInProgress || cancelled();
  if (Abort) return;

  // Read what is needed now: letting events run below may re-sort the rows.
  const ViewRow& row = kv_.VTree1.Row(rowIndex);
  if (!row.Checked) return;
  const filter::MessageNode node = row.Node;
  const std::int32_t msgIndex = node.MsgIndex;
  const std::string uidl = node.UIDL;
  const std::uint16_t serverNumber = row.ServerNumber;

  long position = 0;
  if (s.UIDLCapable) {
    // A fresh session: only the id says which message this is.
    if (kv_.UIDLList.empty()) {
      // The server listed no ids this time; guessing a position could hit
      // another message.
      kv_.dfsStatus.setStatus("Status: No message ids from the server");
      Abort = true;
      return;
    }
    if (uidl.empty()) return;  // not identifiable: left on the server
    position = ReturnUIDLpos(uidl);
  } else {
    // The check's own session is still open; its numbers hold there only.
    if (s.SessionSerial != s.ListedSession) {
      Abort = true;
      return;
    }
    position = serverNumber;
  }
  if (position < 1 || position > 65535) return;

  ++deletedCount_;
  errorReported_ = false;
  try {
    // No copy, no DELE: the message stays on the server and the rest go on.
    if (!kv_.deletionCopy().CopyBeforeDelete(kv_, static_cast<std::uint16_t>(position), node)) {
      failedRecord_ = true;
    } else {
      client.DeleteMessage(static_cast<std::uint16_t>(position));
      if (!errorReported_ && !client.Aborted && !cancelled()) {
        kv_.dfsStatus.setStatus("Status: Message #" + std::to_string(msgIndex + 1) + " deleted");
        deleted_.push_back(msgIndex);
      }
    }
  } catch (const std::exception& e) {
    if (!cancelled()) kv_.dfsStatus.setStatus(failureStatus(e.what()));
    failedRecord_ = true;
    Abort = true;
  }
  if (errorReported_) Abort = true;
  const std::int64_t done = std::int64_t{deletedCount_} * 100;
  kv_.dfsStatus.setGauge(
      markedCount_ <= 0 ? 100 : static_cast<int>(base::roundHalfEven(done, markedCount_)));
  kv_.Pump.ProcessEvents();
}

}  // namespace kelvrin::app
