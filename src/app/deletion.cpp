#include "app/deletion.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <set>
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

// An id as a reason shows it: a server's id may be anything.
std::string quotedId(std::string_view id) {
  constexpr std::size_t kShown = 70;
  std::string text = "\"" + std::string(id.substr(0, kShown)) + (id.size() > kShown ? "..." : "");
  return text + "\"";
}

}  // namespace

std::string MessageIdentity(TKVmain& kv, const ViewRow& row) {
  const mail::TMailMessage* m = kv.View().messageOf(row);
  const std::string uidl(trimBlanks(m ? m->UIDL : row.Node.UIDL));
  if (!uidl.empty()) return "U" + uidl;
  if (!m) return "H" + row.Node.From + '\0' + row.Node.Subject;
  return "H" + m->From() + '\0' + m->Subject + '\0' + m->DateText + '\0' + std::to_string(m->Size);
}

Deletion::Deletion(TKVmain& kv) : kv_(kv) {}

void Deletion::noteProblem(std::string status, std::string reason) {
  problems_.push_back(std::move(reason));
  problemStatus_ = problems_.size() == 1 ? std::move(status)
                                         : "Status: " + std::to_string(problems_.size()) +
                                               " marked messages were not deleted";
}

void Deletion::showProblems() {
  if (effect_.StillListed > 0) {
    kv_.dfsStatus.setStatus("Status: " + std::to_string(effect_.StillListed) + " deleted message" +
                            (effect_.StillListed == 1 ? " is" : "s are") + " still listed");
    kv_.dfsStatus.setPanel(2, "The server accepted the deletion of " +
                                  std::to_string(effect_.StillListed) +
                                  " message(s) but still lists them.");
    return;
  }
  if (problems_.empty()) return;
  kv_.dfsStatus.setStatus(problemStatus_);
  std::string reason = problems_.front();
  if (problems_.size() > 1) reason += " (and " + std::to_string(problems_.size() - 1) + " more)";
  kv_.dfsStatus.setPanel(2, reason);
}

DeletionEffect Deletion::judgeEffect() {
  DeletionEffect effect;
  effect.Verified = true;
  std::multiset<std::string> listed;
  for (const ViewRow& row : kv_.VTree1.rows())
    listed.insert(MessageIdentity(kv_, row));
  for (std::size_t i = 0; i < deleted_.size(); ++i) {
    const auto still = listed.find(deletedIdentities_[i]);
    if (still != listed.end()) {
      // Each listed row accounts for one deleted message only.
      listed.erase(still);
      ++effect.StillListed;
    } else {
      effect.Gone.push_back(deleted_[i]);
    }
  }
  return effect;
}

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
  deletedIdentities_.clear();
  problems_.clear();
  problemStatus_.clear();
  effect_ = DeletionEffect{};
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
    if (kv_.KVWForm1->value("KVWccntypeGroup") == 1) {
      // The call comes up asynchronously: nothing is sent before the line
      // is up, and a call that does not come up has said why in the status.
      if (!kv_.dialUp().DialAndWait()) {
        kv_.DelButtonEnable(true);
        s.CheckInProgress = false;
        return;
      }
      // The deletion checks again by itself; the new line must not start
      // another check when the detector sees it.
      s.ConnectEventCount = 3;
    }
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
    if (!cancelled()) showProblems();
    return;
  }
  lastCompleted_ =
      static_cast<int>(deleted_.size()) == markedCount_ && !errorReported_ && !failedRecord_;
  // The last row's "deleted" must not hide a row that was left.
  showProblems();

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
  if (origin != kTagSendReceive) {
    kv_.GetServerMessages();
    if (kv_.Check().LastOutcome().Completed) {
      effect_ = judgeEffect();
      // The check's own status would tell that all went well.
      showProblems();
    } else if (!problems_.empty()) {
      // The check's failure keeps the status; the reason panel still says
      // what the deletion left.
      kv_.dfsStatus.setPanel(2, problems_.front());
    }
  }
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
  const std::string identity = MessageIdentity(kv_, row);

  long position = 0;
  if (s.UIDLCapable) {
    // A fresh session: only the id says which message this is.
    if (kv_.UIDLList.empty()) {
      // The server listed no ids this time, or none that can be trusted;
      // guessing a position could hit another message.
      if (!client.ListingProblem.empty()) {
        noteProblem("Status: Nothing deleted: unusable id listing", client.ListingProblem);
      } else {
        kv_.dfsStatus.setStatus("Status: No message ids from the server");
      }
      failedRecord_ = true;
      Abort = true;
      return;
    }
    if (uidl.empty()) return;  // not identifiable: left on the server
    // An id held by two messages names neither: the DELE could take the
    // valid one. That holds for the check's listing as for this one.
    const std::string_view wanted = trimBlanks(uidl);
    const auto sameId = [&](std::string_view id) { return trimBlanks(id) == wanted; };
    const auto listedHere = std::count_if(kv_.UIDLList.begin(), kv_.UIDLList.end(), sameId);
    const auto& rows = kv_.VTree1.rows();
    const auto listedByCheck = std::count_if(rows.begin(), rows.end(),
                                             [&](const ViewRow& r) { return sameId(r.Node.UIDL); });
    if (listedHere > 1 || listedByCheck > 1) {
      const std::string number = std::to_string(msgIndex + 1);
      noteProblem("Status: Message #" + number + " kept: its id is not unique",
                  std::string(listedHere > 1 ? "The server lists" : "The check listed") +
                      " the id " + quotedId(wanted) +
                      " more than once, so it names no single message: message #" + number +
                      " was not deleted.");
      failedRecord_ = true;
      return;
    }
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
  // The position after the last listed message: the row's message is gone,
  // and the server is expected to refuse.
  const bool unlistedPosition =
      s.UIDLCapable && static_cast<std::size_t>(position) == kv_.UIDLList.size() + 1;

  ++deletedCount_;
  errorReported_ = false;
  try {
    // No copy, no DELE: the message stays on the server and the rest go on.
    if (!kv_.deletionCopy().CopyBeforeDelete(kv_, static_cast<std::uint16_t>(position), node)) {
      failedRecord_ = true;
    } else {
      client.DeleteMessage(static_cast<std::uint16_t>(position));
      if (unlistedPosition && !errorReported_ && client.Connected()) {
        // It deleted a message its listing does not hold: which one, and
        // what its positions mean, nobody can tell. Ending the session
        // without QUIT undoes every DELE of it.
        client.Socket().Close();
        deleted_.clear();
        deletedIdentities_.clear();
        noteProblem("Status: Nothing deleted: the server's listing is wrong",
                    "The server accepted the deletion of message " + std::to_string(position) +
                        ", which its id listing does not hold; the session was ended without "
                        "QUIT, so nothing was deleted.");
        failedRecord_ = true;
        s.CheckInProgress = false;
        Abort = true;
      } else if (!errorReported_ && !client.Aborted && !cancelled()) {
        kv_.dfsStatus.setStatus("Status: Message #" + std::to_string(msgIndex + 1) + " deleted");
        deleted_.push_back(msgIndex);
        deletedIdentities_.push_back(identity);
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
