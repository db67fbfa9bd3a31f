#include "app/check_cycle.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "app/deletion.h"
#include "app/header_cache.h"
#include "app/kvmain.h"
#include "app/message_view_handlers.h"
#include "app/session_guard.h"
#include "base/rounding.h"
#include "protocols/reply_wait.h"
#include "settings/forms.h"

namespace kelvrin::app {

namespace {

std::string withoutBlanks(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (c != ' ') result.push_back(c);
  }
  return result;
}

protocols::SecurityMode securityMode(int value) {
  switch (value) {
    case 1:
      return protocols::SecurityMode::StartTls;
    case 2:
      return protocols::SecurityMode::ImplicitTls;
    default:
      return protocols::SecurityMode::None;
  }
}

}  // namespace

CheckCycle::CheckCycle(TKVmain& kv) : kv_(kv) {}

void CheckCycle::attachClientEvents() {
  auto& client = kv_.Pop3Client1;
  client.OnConnect = [this](protocols::TPop3Client&) { Pop3Client1Connect(); };
  client.OnDisconnect = [this](protocols::TPop3Client&) { Pop3Client1Disconnect(); };
  client.OnError = [this](protocols::TPop3Client&, std::int32_t error, const std::string& msg) {
    Pop3Client1Error(error, msg);
  };
  client.OnAfterRetrieve = [this](protocols::TPop3Client&) { Pop3Client1AfterRetrieve(); };
  client.OnRetrieveProgress = nullptr;
}

void CheckCycle::guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    try {
      ResetStatus();
    } catch (...) {
      // The status below is what the user needs to see.
    }
    kv_.dfsStatus.setStatus(failureStatus(e.what()));
  } catch (...) {
    kv_.State.CheckInProgress = false;
    kv_.dfsStatus.setStatus("Status: Unknown error");
  }
}

bool CheckCycle::secondaryAccountChosen() const {
  return !kv_.KVmain->checked("Paccount") && !kv_.KVWForm1->text("KVWsecEdhost").empty();
}

void CheckCycle::GetServerMessages() {
  guarded([this] { serverMessagesSteps(); });
  autoDeleteIfPending();
}

// The deletion runs after the check has finished all its own steps, never in
// the middle of them: the deletion ends with a check of its own, whose end
// would otherwise be overwritten by the rest of the outer one.
void CheckCycle::autoDeleteIfPending() {
  if (inAutoDelete_) return;
  inAutoDelete_ = true;
  while (autoDeletePending_) {
    autoDeletePending_ = false;
    guarded([this] { kv_.Delete().btDeleteClick(kTagSpamDelete, /*automatic=*/true); });
  }
  inAutoDelete_ = false;
}

// Identifies what a check listed: the unique ids, or for a server without
// them the header data, in any order.
std::size_t CheckCycle::listingSignature() const {
  std::vector<std::string> keys;
  keys.reserve(kv_.MessageList1.Count());
  for (std::size_t i = 0; i < kv_.MessageList1.Count(); ++i) {
    const mail::TMailMessage& m = kv_.MessageList1.Items(i);
    if (!m.UIDL.empty()) {
      keys.push_back("U" + m.UIDL);
    } else {
      keys.push_back("H" + m.From() + '\0' + m.Subject + '\0' + m.DateText + '\0' +
                     std::to_string(m.Size));
    }
  }
  std::sort(keys.begin(), keys.end());
  std::size_t seed = keys.size();
  for (const auto& key : keys) {
    seed ^= std::hash<std::string>{}(key) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  }
  return seed;
}

void CheckCycle::serverMessagesSteps() {
  auto& s = kv_.State;
  auto& client = kv_.Pop3Client1;
  auto& view = kv_.VTree1;
  auto& cmd = kv_.Commands;

  kv_.dfsStatus.setGauge(0);
  if (kv_.KVWForm1->text("KVWEdhost").empty() || s.CheckInProgress || sessionOwned(s) ||
      s.OnlineState == kOffline) {
    return;
  }
  SessionGuard session(kv_, SessionOperation::Check);

  outcome_ = CheckOutcome{};
  outcome_.Started = true;
  const std::uint64_t cancelsAtStart = cancelCount_;
  checkCancelsAtStart_ = cancelsAtStart;
  const auto cancelled = [&] { return cancelCount_ != cancelsAtStart; };
  checkRunning_ = true;
  struct RunningFlag {
    bool& flag;
    ~RunningFlag() { flag = false; }
  } running{checkRunning_};

  DelButtonEnable(false);
  // Ending the session an earlier check kept open returns the window to idle
  // (its OnDisconnect runs ResetStatus); the window turns busy after that.
  client.Quit();
  s.CheckInProgress = true;
  cmd.setEnabled({"BtCancel", "ToolButton8"}, true);
  s.CheckInProgress = InitComms();

  if (!s.CheckInProgress) {
    s.TrayResultShown = 0;
    ResetStatus();
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle,
                            kv_.mainWindowVisible() ? notify::kIdleOffline : notify::kIdleOnline);
    return;
  }
  if (cancelled()) {
    // Cancelled while the session was being opened (connecting clears the
    // client's Aborted): nothing is listed, and a session that lists
    // nothing is not held.
    client.Quit();
    s.TrayResultShown = 0;
    ResetStatus();
    kv_.dfsStatus.setStatus("Status: Logged off......");
    return;
  }
  outcome_.StatCount = client.MessageCount;
  outcome_.ServerCount = client.ServerMessageCount;
  // Message numbers are 16-bit: a larger mailbox is worked from its first
  // 65,535 messages, and the window says so rather than let the count pass
  // for the mailbox's.
  const bool countLimited = client.ServerMessageCount > client.MessageCount;

  if (kv_.KVmain->checked("AutoUpdate1")) {
    if (s.CheckCounter <= 10) ++s.CheckCounter;
    if (s.CheckCounter == 10) {
      kv_.dfsStatus.setStatus("Status: Check for Update...");
      ResetStatus();
      kv_.versionCheck().Check4NewVersion();
      return;
    }
  }

  VtreeToFront();
  kv_.dfsStatus.setStatus("Status: Searching host...");
  kv_.dfsStatus.setPanel(
      1, "Messages: " + std::to_string(client.MessageCount) +
             (countLimited ? " of " + std::to_string(client.ServerMessageCount) : std::string()));
  s.SpamCount = 0;
  s.SuspectCount = 0;
  s.ValidCount = 0;
  // The rows go before the list is cleared: no row may outlive its message.
  view.BeginUpdate();
  view.Clear();
  view.EndUpdate();
  kv_.windowPort().Repaint();
  s.TrayResultShown = 1;
  cmd.setVisible({"MarkAll1", "N3"}, true);
  cmd.setEnabled("CheckNow1", true);
  serverNumbers_.clear();
  kv_.MessageList1.Clear();
  notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayChecking, 0);

  try {
    fetchHeaders();
  } catch (const std::exception& e) {
    session.settleCancel();
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleOnline);
    ResetStatus();
    kv_.dfsStatus.setStatus(failureStatus(e.what()));
    s.TrayResultShown = 0;
    return;
  }
  session.settleCancel();

  // The session is a fresh one (nothing deleted in it), so item i is server
  // message i + 1 until the command-mail handling removes items.
  for (std::size_t i = 0; i < kv_.MessageList1.Count(); ++i) {
    serverNumbers_[&kv_.MessageList1.Items(i)] = static_cast<std::uint16_t>(i + 1);
  }
  s.ListedSession = s.SessionSerial;

  kv_.sysMessages().IncomingSysMessage(kv_);
  session.settleCancel();

  if (kv_.MessageList1.Count() == 0) {
    s.PrevValidCount = 0;
    s.TrayResultShown = 0;
    EndSession();
    outcome_.Completed = !outcome_.ErrorReported;
    return;
  }

  s.UIDLCapable = !kv_.MessageList1.Items(0).UIDL.empty();

  if (cmd.Visible("DeleteAll1")) cmd.setEnabled("DeleteAll1", true);
  cmd.setEnabled({"BtCancel", "ToolButton8"}, false);
  kv_.dfsStatus.setStatus("Status: Received maildrop info");

  kv_.View().beginScoring();
  view.BeginUpdate();
  view.setRootNodeCount(kv_.MessageList1.Count());
  view.setSortDirection(SortDirection::Descending);
  view.setSortColumn(kColSpam);
  view.setEnabled(true);
  view.EndUpdate();
  kv_.View().endScoring();

  if (s.ValidCount + s.SuspectCount == 0 && kv_.KVWForm1->checked("HangupSpam1") &&
      kv_.dialUp().SystemConnectionUp()) {
    s.PrevValidCount = 0;
    s.LastListedCount = 0;
    EndSession();
    outcome_.Completed = !outcome_.ErrorReported;
    return;
  }

  view.setHint("Click a row to display message body");

  notify::PostCheckContext ctx{s, kv_.TrayIcon1, kv_.MessageList1};
  kv_.postCheckNotification().Run(ctx);
  s.announceCounts();

  DelButtonEnable(true);

  // Automatic deletion, run once this check is over. A listing that the
  // last attempt already tried to clean up is not tried again (a server that
  // refuses or ignores DELE would otherwise make checks and deletions follow
  // each other for ever), nor is a check the user cancelled.
  if (kv_.KVmain->checked("NonInterDel1") && s.SpamCount > 0 && cancelCount_ == cancelsAtStart) {
    const std::size_t signature = listingSignature();
    if (!(autoDeleteTried_ && signature == autoDeleteSignature_)) {
      autoDeleteTried_ = true;
      autoDeleteSignature_ = signature;
      autoDeletePending_ = true;
    }
  }

  s.IntervalIncrement = 0;
  s.SnoozeState = 0;
  kv_.ETimer1.setInterval(3000);
  kv_.ETimer1.setEnabled(true);
  s.CheckInProgress = false;

  if (kv_.KVWForm1->value("IdleSecs1") > 0 && s.OnlineState == kOnline) {
    kv_.SnoozeTimer.setInterval(1000);
    kv_.SnoozeTimer.setEnabled(true);
  } else {
    kv_.SnoozeTimer.setEnabled(false);
  }

  if (s.UIDLCapable) client.Quit();
  // Otherwise the session stays open: a deletion addresses the messages by
  // their positions in it.
  if (countLimited) {
    kv_.dfsStatus.setStatus(CountLimitStatus(client.MessageCount, client.ServerMessageCount));
  }

  const bool sendRcv = s.SendRcvReady == 1;
  cmd.setEnabled({"SendRcv", "ToolButton4", "SendReceive1"}, sendRcv);
  cmd.setVisible("SendReceive1", sendRcv);

  outcome_.Completed = !outcome_.ErrorReported;
}

void CheckCycle::fetchHeaders() {
  auto& client = kv_.Pop3Client1;
  std::unique_ptr<HeaderCache> cache;
  if (!cacheFolder_.empty() && client.UIDLSupported && kv_.KVmain->checked("HeaderCache1")) {
    cache = std::make_unique<HeaderCache>(cacheFolder_, client.Host, client.Port, client.UserId);
    if (!cache->Open()) cache.reset();
  }
  if (cache) {
    client.FindKnownHeader = [&cache](const std::string& id, std::int32_t size,
                                      mail::TStringList& lines) {
      return cache->Find(id, size, lines);
    };
    client.OnHeaderFetched = [&cache](const std::string& id, std::int32_t size,
                                      const mail::TStringList& lines) {
      cache->Add(id, size, lines);
    };
  }
  struct Unhook {
    protocols::TPop3Client& client;
    ~Unhook() {
      client.FindKnownHeader = nullptr;
      client.OnHeaderFetched = nullptr;
    }
  } unhook{client};
  client.RetrieveAllHeaders(kv_.MessageList1);
  // Only a listing of the whole mailbox tells which messages are gone; the
  // stored file stays as it was otherwise. A cache that cannot be written
  // costs the next check its speed, nothing else.
  if (cache && client.LastCheckPipelined && !client.Aborted && !outcome_.ErrorReported &&
      cancelCount_ == checkCancelsAtStart_) {
    std::string error;
    cache->Commit(error);
  }
}

void CheckCycle::RunRequestedCheck() {
  auto& s = kv_.State;
  auto& cmd = kv_.Commands;
  // The request stays: the scheduler starts it once the session is free.
  if (s.CheckInProgress || sessionOwned(s)) return;
  s.TrayResultShown = 1;
  s.TickCount = 0;
  s.ConnectEventCount = 0;
  s.SpamCount = 0;
  s.SuspectCount = 0;
  s.ValidCount = 0;
  cmd.setEnabled({"btOpen", "ToolButton2", "CheckNow1"}, false);
  cmd.setEnabled({"BtCancel", "ToolButton8"}, true);
  VtreeToFront();
  s.ConnectEventCount = 1;
  kv_.ETimer1.setEnabled(false);
  GetServerMessages();
  s.CheckRequested = false;
  kv_.ETimer1.setInterval(3000);
  kv_.ETimer1.setEnabled(true);
}

bool CheckCycle::InitComms() {
  auto& client = kv_.Pop3Client1;
  auto& wizard = *kv_.KVWForm1;
  client.Port = withoutBlanks(wizard.text("PopPort"));
  if (secondaryAccountChosen()) {
    client.Host = wizard.text("KVWsecEdhost");
    client.UserId = wizard.text("KVWsecedUser");
    client.UserPasswd = wizard.text("KVWSecEdPassword");
  } else {
    client.Host = wizard.text("KVWEdhost");
    client.UserId = wizard.text("KVWedUser");
    client.UserPasswd = wizard.text("KVWedPassword");
  }
  client.Security = securityMode(wizard.value("PopSecurity"));
  client.CaFile = wizard.text("CaFile");

  try {
    kv_.dfsStatus.setStatus("Status: Searching host...");
    // A Cancel while connecting ends the attempts, not just the one.
    const std::uint64_t cancels = cancelCount_;
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (client.Connected() || cancelCount_ != cancels) break;
      ++kv_.State.SessionSerial;
      // The pause is for the next attempt: a connect that succeeded, or a
      // Cancel, ends it.
      if (!client.Connect()) Delay(100, [&] { return cancelCount_ != cancels; });
    }
    if (client.Connected()) {
      client.Login();
      kv_.Commands.setEnabled("CheckNow1", true);
      client.GetStat();
      if (client.ServerMessageCount > client.MessageCount) {
        // Message numbers are 16-bit: the rest cannot be reached.
        kv_.dfsStatus.setPanel(2, "The mailbox holds " + std::to_string(client.ServerMessageCount) +
                                      " messages; only the first " +
                                      std::to_string(client.MessageCount) + " are worked.");
      }
      return true;
    }
    kv_.dfsStatus.setStatus("Status: Unable connect...");
    // Why, when the client knows (a refused certificate, no such host).
    if (!client.LastErrorText.empty()) kv_.dfsStatus.setPanel(2, client.LastErrorText);
    return false;
  } catch (const std::exception& e) {
    const std::string message = e.what();
    if (message.find("to get STAT") != std::string::npos) {
      kv_.dfsStatus.setStatus("Status: Username/Password error");
    } else {
      kv_.dfsStatus.setStatus(failureStatus(message));
    }
    try {
      client.Quit();
    } catch (...) {
      client.Socket().Close();
    }
    return false;
  }
}

void CheckCycle::EndSession() {
  auto& s = kv_.State;
  auto& cmd = kv_.Commands;
  kv_.VTree1.setHint("Click caption '?' button and click here for Tree help");
  if (kv_.KVWForm1->checked("IncInterval1")) ++s.IntervalIncrement;
  kv_.Pop3Client1.Quit();
  DelButtonEnable(false);
  cmd.setEnabled({"SendRcv", "ToolButton4", "SendReceive1"}, false);
  cmd.setEnabled({"btOpen", "ToolButton2"}, true);
  if (kv_.KVWForm1->checked("Hangup1") && kv_.dialUp().SystemConnectionUp()) {
    kv_.dialUp().HangUp();
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleOffline);
  } else {
    notify::TrayIconDisplay(
        kv_.TrayIcon1, notify::kTrayIdle,
        kv_.KVWForm1->value("Interval1") != 0 ? notify::kIdleOnline : notify::kIdleTimedChecksOff);
  }
  s.CheckInProgress = false;
  s.TickCount = 0;
  if (kv_.KVmain->checked("showcurrent_IP")) {
    kv_.dfsStatus.setPanel(2, kv_.dialUp().AddressText());
  }
  kv_.dfsStatus.setStatus("Status: Logged off......");
}

void CheckCycle::ResetStatus() {
  auto& s = kv_.State;
  auto& cmd = kv_.Commands;
  s.CheckInProgress = false;
  if (kv_.VTree1.RootNodeCount() == 0 || !s.UIDLCapable) {
    cmd.setVisible({"MarkAll1", "N3"}, false);
    DelButtonEnable(false);
  } else if (s.OnlineState == kOffline) {
    kv_.VTree1.setEnabled(true);
    DelButtonEnable(true);
    cmd.setVisible({"MarkAll1", "N3"}, true);
  }
  cmd.setEnabled({"btOpen", "ToolButton2", "CheckNow1"}, true);
  cmd.setEnabled({"BtCancel", "ToolButton8"}, false);
  kv_.VTree1.EndUpdate();
  kv_.versionCheck().ClearRunningMarks();
  kv_.dfsStatus.setGauge(0);
}

void CheckCycle::DelButtonEnable(bool Enable) {
  auto& cmd = kv_.Commands;
  if (Enable) {
    cmd.setEnabled({"BtDelete", "ToolButton3", "DeleteSpam1"}, true);
    cmd.setEnabled({"btDelall1", "ToolButton5", "DeleteAll1"}, kv_.KVmain->checked("DelAll1"));
  } else {
    cmd.setEnabled(
        {"BtDelete", "ToolButton3", "DeleteSpam1", "btDelall1", "ToolButton5", "DeleteAll1"},
        false);
  }
}

void CheckCycle::VtreeToFront() {
  kv_.SnoozeTimer.setInterval(0);
  kv_.State.SnoozeState = 0;
  kv_.YHMGroupBox1.InFront = false;
  kv_.YHMGroupBox1.Blink = false;
  kv_.YHMGroupBox1.BlinkCount = 0;
}

void CheckCycle::btOpenClick() {
  requestCheck(true);
}

void CheckCycle::RequestCheckWithoutClick() {
  requestCheck(false);
}

void CheckCycle::requestCheck(bool clicked) {
  if (kv_.KVWForm1->text("KVWMainEmail1") == settings::kPlaceholderMainEmail) {
    kv_.Prompter.MsgBox("Incorrect main email address\rOptions, item 1 please enter", "Kelvrin",
                        false, ui::kMbIconStop);
    return;
  }
  userActed();
  if (!kv_.State.CheckRequested) {
    // The button's own pause; a request that no button made has nothing to
    // wait for.
    if (clicked) Delay(100);
    kv_.State.CheckRequested = true;
  }
}

void CheckCycle::BtCancelClick() {
  ++cancelCount_;
  auto& client = kv_.Pop3Client1;
  client.Abort();
  if (sessionOwned(kv_.State)) {
    // The operation that holds the session may be waiting for a reply right
    // now (this runs from its event pump): an RSET sent from here would read
    // that reply as its own. The operation resets the session — or, in a
    // deletion, closes it without QUIT — once its call has returned.
    kv_.State.SessionResetDue = true;
  } else if (client.Connected()) {
    try {
      client.Reset();
    } catch (const std::exception& e) {
      kv_.dfsStatus.setStatus(failureStatus(e.what()));
    }
  }
  if (kv_.dialUp().HoldsConnection()) kv_.dialUp().Cancel();
  notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle,
                          kv_.mainWindowVisible() ? notify::kIdleOffline : notify::kIdleOnline);
  kv_.versionCheck().StopDownload();
  ResetStatus();
}

void CheckCycle::btCloseClick() {
  BtCancelClick();
  ResetStatus();
  kv_.windowPort().CloseMainWindow();
}

void CheckCycle::PaccountClick() {
  auto& main = *kv_.KVmain;
  main.setChecked("Paccount", !main.checked("Paccount"));
  main.setChecked("SecAccount", !main.checked("Paccount"));
  kv_.Commands.setChecked("Paccount", main.checked("Paccount"));
  kv_.Commands.setChecked("SecAccount", main.checked("SecAccount"));
  userActed();
}

void CheckCycle::DDownAcctPopup() {
  kv_.Commands.setCaption("Paccount", kv_.KVWForm1->text("KVWEdhost"));
  kv_.Commands.setCaption("SecAccount", kv_.KVWForm1->text("KVWsecEdhost"));
}

void CheckCycle::Pop3Client1Connect() {
  std::string text;
  if (!kv_.KVmain->checked("Paccount") && kv_.KVWForm1->text("KVWsecEdhost").empty()) {
    text = "Connected......";
  } else {
    const std::string& host = secondaryAccountChosen() ? kv_.KVWForm1->text("KVWsecEdhost")
                                                       : kv_.KVWForm1->text("KVWEdhost");
    const std::size_t dot = host.find('.');
    text = "Connected to " + (dot == std::string::npos ? host : host.substr(dot + 1));
  }
  kv_.dfsStatus.setStatus("Status: " + text);
  kv_.Commands.setEnabled({"btOpen", "ToolButton2", "BtCancel", "ToolButton8"}, true);
  notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleOnline);
}

void CheckCycle::Pop3Client1Disconnect() {
  if (!kv_.Pop3Client1.Failed) ResetStatus();
}

void CheckCycle::Pop3Client1Error(std::int32_t /*Error*/, const std::string& Msg) {
  if (checkRunning_) outcome_.ErrorReported = true;
  kv_.Delete().clientReportedError();
  kv_.dfsStatus.setStatus(failureStatus(Msg));
  ResetStatus();
}

void CheckCycle::Pop3Client1AfterRetrieve() {
  const int total = kv_.Pop3Client1.MessageCount;
  const auto fetched = static_cast<std::int64_t>(kv_.MessageList1.Count());
  kv_.dfsStatus.setGauge(
      total <= 1 ? 100 : static_cast<int>(base::roundHalfEven(fetched * 100, total - 1)));
  kv_.Pump.ProcessEvents();
}

std::string CheckCycle::CountLimitStatus(int listed, std::int64_t held) {
  return "Status: Listed the first " + std::to_string(listed) + " of " + std::to_string(held) +
         " messages (a check lists at most 65535)";
}

void CheckCycle::Pop3Client1RetrieveProgress(std::uint16_t Percent) {
  kv_.dfsStatus.setGauge(Percent > 100 ? 100 : Percent);
}

std::uint16_t CheckCycle::ServerNumberOf(const mail::TMailMessage& message) const {
  const auto found = serverNumbers_.find(&message);
  return found == serverNumbers_.end() ? 0 : found->second;
}

void CheckCycle::Delay(std::uint32_t Milliseconds, const std::function<bool()>& reasonGone) {
  auto& clock = kv_.Clock;
  const std::int64_t end = clock.TickCount() + static_cast<std::int64_t>(Milliseconds);
  // Events run at least every pump interval (20 ms), as in every other wait,
  // so that the window never stands still for a whole Delay; the sleeps are
  // slices of that interval, and the wait ends at once when its reason is gone.
  std::int64_t lastPump = clock.TickCount();
  for (std::int64_t now = lastPump; now < end; now = clock.TickCount()) {
    if (reasonGone && reasonGone()) return;
    const std::int64_t untilPump = protocols::kPumpIntervalMs - (now - lastPump);
    clock.Sleep(static_cast<int>(std::max<std::int64_t>(1, std::min(end - now, untilPump))));
    if (clock.TickCount() - lastPump >= protocols::kPumpIntervalMs) {
      kv_.Pump.ProcessEvents();
      lastPump = clock.TickCount();
    }
  }
}

}  // namespace kelvrin::app
