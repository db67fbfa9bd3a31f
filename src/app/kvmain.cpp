#include "app/kvmain.h"

#include "app/body_display.h"
#include "app/check_cycle.h"
#include "app/deletion.h"
#include "app/message_view_handlers.h"
#include "app/session_guard.h"
#include "app/status_bar.h"
#include "app/window_handlers.h"
#include "filter/rule_lists.h"
#include "settings/forms.h"
#include "settings/settings_home.h"
#include "ui/message_box.h"

#ifndef KELVRIN_VERSION
#define KELVRIN_VERSION "0.0.0"
#endif

namespace kelvrin::app {

std::string versionDigits(std::string_view version) {
  std::string digits;
  for (char c : version) {
    if (c != '.') digits.push_back(c);
  }
  return digits;
}

namespace {

std::filesystem::path iniPath(const std::filesystem::path& home) {
  return std::filesystem::path(settings::settingsFileName(settings::programDirFor(home)));
}

}  // namespace

// The scheduler's questions answered from the window's state and settings.
class TKVmain::SchedulerBridge final : public notify::SchedulerHost {
 public:
  explicit SchedulerBridge(TKVmain& kv) : kv_(kv) {}

  notify::SchedulerInputs schedulerInputs() override {
    const auto& s = kv_.State;
    notify::SchedulerInputs in;
    in.CheckRequested = s.CheckRequested;
    // The session owner too: ResetStatus may clear the busy flag while an
    // operation is still unwinding.
    in.CheckInProgress = s.CheckInProgress || sessionOwned(s);
    in.WindowHidden = !s.MainWindowVisible;
    in.Interval1 = kv_.KVWForm1->value("Interval1");
    in.OnlineInt1 = kv_.KVWForm1->value("OnlineInt1");
    in.Disable1 = kv_.KVmain->checked("Disable1");
    in.RedialAll1 = kv_.KVmain->checked("RedialAll1");
    in.OnlineState = s.OnlineState;
    in.ListedCount = kv_.MessageList1.Count();
    in.TrayResultShown = s.TrayResultShown;
    in.SessionHeld = kv_.Pop3Client1.Connected();
    in.ConnectionUsable = s.OnlineState != kOffline || kv_.KVWForm1->value("KVWccntypeGroup") != 1;
    return in;
  }

  notify::IdleInputs idleInputs() override {
    const auto& s = kv_.State;
    notify::IdleInputs in;
    in.CheckInProgress = s.CheckInProgress || sessionOwned(s);
    in.IdleSecs1 = kv_.KVWForm1->value("IdleSecs1");
    in.Hangup1 = kv_.KVWForm1->checked("Hangup1");
    in.Invasive1 = kv_.KVmain->checked("Invasive1");
    in.DialUpConnected = kv_.dialUp().SystemConnectionUp();
    in.ValidCount = s.ValidCount;
    return in;
  }

  bool CheckCtrlDel() override {
    return kv_.postCheckNotification().CheckCtrlDel(kv_.State, kv_.desktop().ShiftHeld(),
                                                    kv_.desktop().CtrlHeld());
  }

  void KeepAlive() override {
    // Like every other operation on the session: never inside another one.
    SessionGuard session(kv_, SessionOperation::KeepAlive);
    if (!session.owns() || !kv_.Pop3Client1.Connected()) return;
    try {
      kv_.Pop3Client1.Noop();
    } catch (const std::exception& e) {
      // The server closed the session; the next check opens a new one.
      kv_.dfsStatus.setStatus(failureStatus(e.what()));
    }
  }

  void BeginCheck() override {
    kv_.Check().guarded([this] { kv_.Check().RunRequestedCheck(); });
  }

  void BeginDialUp() override {
    auto& s = kv_.State;
    auto& cmd = kv_.Commands;
    s.TrayResultShown = 1;
    s.TickCount = 0;
    s.ConnectEventCount = 0;
    s.SpamCount = 0;
    s.SuspectCount = 0;
    s.ValidCount = 0;
    cmd.setEnabled({"btOpen", "ToolButton2", "CheckNow1"}, false);
    cmd.setEnabled({"BtCancel", "ToolButton8"}, true);
    kv_.VtreeToFront();
    kv_.Delay(100);
    cmd.setVisible("Disconnect1", true);
    // The check follows when the new connection is reported.
    kv_.dialUp().StartDialler();
  }

  void ClearCheckRequested() override { kv_.State.CheckRequested = false; }
  void WebsiteMonitor() override { kv_.versionCheck().MonitorWebsites(); }
  void VtreeToFront() override { kv_.VtreeToFront(); }

  void HangUpCall() override {
    if (!sessionOwned(kv_.State)) {
      try {
        kv_.Pop3Client1.Quit();
      } catch (...) {
        kv_.Pop3Client1.Socket().Close();
      }
    }
    kv_.dialUp().HangUp();
  }

  void ScreenSaverOff() override { kv_.desktop().ScreenSaverOff(); }

  bool TimedCheckUnavailable() override { return kv_.KVWForm1->value("Interval1") == 0; }

  void OfferIntervalSetting() override {
    kv_.Prompter.MsgBox(
        "Timer Interval=0:\rChange this setting: Mins interval mail check (0= manual)", "Kelvrin",
        false, ui::kMbOk);
    kv_.settingsWizard().SelectPage("TabSheet5");
    kv_.Window().GeneralSettings();
  }

  bool TimedChecksDisabled() override { return kv_.KVmain->checked("Disable1"); }

  void setTimedChecksDisabled(bool disabled) override {
    kv_.KVmain->setChecked("Disable1", disabled);
    kv_.KVmain->setChecked("Disable2", disabled);
    kv_.Commands.setChecked("Disable1", disabled);
    kv_.Commands.setChecked("Disable2", disabled);
    if (!disabled) kv_.Commands.setCaption("Disable1", "Disable Timed Check");
  }

  bool DisableScnsave1() override { return kv_.KVmain->checked("DisableScnsave1"); }

  void CountdownNoticeCancelled() override {
    kv_.Prompter.ProgressBoxClose();
    kv_.State.CountdownCancelled = 10;
  }

 private:
  TKVmain& kv_;
};

class TKVmain::NotificationBridge final : public notify::NotificationHost {
 public:
  explicit NotificationBridge(TKVmain& kv) : kv_(kv) {}

  bool option(std::string_view name) override { return kv_.KVmain->checked(name); }
  bool windowHidden() override { return !kv_.State.MainWindowVisible; }
  void showWindowOnServerTab() override {
    kv_.windowPort().ShowServerTab();
    kv_.Window().ShowWindowFromTray();
    kv_.Commands.setCaption("ShowHide1", "Hide");
  }
  notify::SoundPlayer& sounds() override { return kv_.soundPlayer(); }
  bool FlashPending() override { return kv_.State.FlashPending; }
  void setFlashPending(bool pending) override { kv_.State.FlashPending = pending; }
  void StartFlashReply() override { kv_.sysMessages().StartFlashReply(kv_); }
  void SendReceive() override { kv_.mailProgram().SendReceive1Click(kv_); }
  void DeleteAll() override { kv_.btDeleteClick(kTagDeleteAll); }
  void ClearCheckRequested() override { kv_.State.CheckRequested = false; }

 private:
  TKVmain& kv_;
};

namespace {

// The presence reports of the window reach the scheduler's idle timer.
class SchedulerIdleWatch final : public IdleWatch {
 public:
  explicit SchedulerIdleWatch(TKVmain& kv) : kv_(kv) {}
  void SnoozeTimerTimer(Sender sender) override {
    switch (sender) {
      case Sender::MessageView:
      // The mouse moving over the message view reports itself as the
      // window's: either is the user looking at the list.
      case Sender::Window:
        kv_.Timers().SnoozeTimerTimer(notify::IdleSender::MessageView);
        break;
      case Sender::TrayIcon:
        kv_.Timers().SnoozeTimerTimer(notify::IdleSender::TrayIcon);
        break;
      case Sender::YouHaveMailLabel:
        kv_.Timers().YHMBlinkLabel1MouseMove();
        break;
    }
  }

 private:
  TKVmain& kv_;
};

}  // namespace

TKVmain::TKVmain(Ports ports, std::filesystem::path settingsHome)
    : Pump(ports.pump),
      Clock(ports.clock),
      Prompter(ports.prompter),
      Idle(ports.clock),
      SettingsHome(std::move(settingsHome)),
      KVmain(settings::makeKVmainForm()),
      KVWForm1(settings::makeKVWForm1Form()),
      IniVal1(*KVmain, "IniVal1"),
      WizardIniVal(*KVWForm1, "IniVal1"),
      IniFile(iniPath(SettingsHome)),
      Settings(settings::IniFile(iniPath(SettingsHome))),
      lbBanEM(filter::makeLbBanEM(SettingsHome)),
      lbBanSubject(filter::makeLbBanSubject(SettingsHome)),
      lbAllowEM(filter::makeLbAllowEM(SettingsHome)),
      Favourites1(filter::makeFavourites1(SettingsHome)),
      WebListBox1(filter::makeWebListBox1(SettingsHome)),
      Pop3Client1(ports.socketFactory),
      dfsStatus(TrayIcon1, State.TitleText),
      schedulerBridge_(std::make_unique<SchedulerBridge>(*this)),
      notificationBridge_(std::make_unique<NotificationBridge>(*this)),
      sysMessages_(std::make_unique<SysMessages>()),
      versionCheck_(std::make_unique<VersionCheck>()),
      dialUp_(std::make_unique<DialUp>()),
      idleWatch_(std::make_unique<SchedulerIdleWatch>(*this)),
      quickReply_(std::make_unique<QuickReply>()),
      windowPort_(std::make_unique<WindowPort>()),
      deletionCopy_(std::make_unique<DeletionCopy>()),
      startupEntry_(std::make_unique<StartupEntry>()),
      settingsWizard_(std::make_unique<SettingsWizard>()),
      notification_(std::make_unique<notify::PostCheckNotification>(*notificationBridge_)),
      soundPlayer_(std::make_unique<notify::SilentSoundPlayer>()),
      mailProgram_(std::make_unique<MailProgram>()),
      desktop_(std::make_unique<DesktopPort>()),
      checkCycle_(std::make_unique<CheckCycle>(*this)),
      viewHandlers_(std::make_unique<MessageViewHandlers>(*this)),
      deletion_(std::make_unique<Deletion>(*this)),
      bodyDisplay_(std::make_unique<BodyDisplay>(*this)),
      windowHandlers_(std::make_unique<WindowHandlers>(*this)),
      scheduler_(std::make_unique<notify::Scheduler>(State, *schedulerBridge_, TrayIcon1, Idle,
                                                     SnoozeTimer, YHMGroupBox1)) {
  State.ProgramDir = settings::programDirFor(SettingsHome);
  Pop3Client1.SetEventPump(Pump);
  Pop3Client1.SetClock(Clock);
  checkCycle_->attachClientEvents();

  VTree1.OnInitNode = [this](ViewRow& row, std::size_t index) {
    viewHandlers_->VTree1InitNode(row, index);
  };
  VTree1.OnCompareNodes = [this](const ViewRow& a, const ViewRow& b, int column) {
    return viewHandlers_->VTree1CompareNodes(a, b, column);
  };
  VTree1.CheckedChanged().add([this](std::size_t index) { viewHandlers_->VTree1Checked(index); });
}

TKVmain::~TKVmain() {
  // The client outlives the handlers; no event may reach them while they go.
  Pop3Client1.OnConnect = nullptr;
  Pop3Client1.OnDisconnect = nullptr;
  Pop3Client1.OnError = nullptr;
  Pop3Client1.OnAfterRetrieve = nullptr;
  Pop3Client1.OnRetrieveProgress = nullptr;
  VTree1.OnInitNode = nullptr;
  VTree1.OnCompareNodes = nullptr;
}

void TKVmain::FormCreate() {
  State.VersionDigits = versionDigits(KELVRIN_VERSION);
  State.TitleText = kTitlePrefix + State.VersionDigits;
  TrayIcon1.setHint(State.TitleText);
  Pop3Client1.OperationTimeout = 90000;
  Pop3Client1.GetUIDLsOnRetrieve = true;
  Pop3Client1.RetrieveProgressStep = 2;

  IniVal1.IniFileName = IniFile.path().string();
  if (IniFile.exists()) {
    IniVal1.LoadAll();
    State.StartPhase = kStartSettingsExisted;
  } else {
    State.StartPhase = kStartFirstRun;
  }
  Commands.setChecked("Paccount", KVmain->checked("Paccount"));
  Commands.setChecked("SecAccount", KVmain->checked("SecAccount"));

  Favourites1->loadList();
  WebListBox1->loadList();
  versionCheck().WebListBox1Exit();
  Prompter.setStayOnTopMode(true);
}

void TKVmain::FormShow() {
  auto& client = Pop3Client1;
  if ((client.MessageCount != 0) == State.CheckInProgress) {
    dfsStatus.setPanel(1, "Messages: " + std::to_string(client.MessageCount));
  }
  if (State.StartPhase == kStartFirstShowDone) return;

  // The wizard: its fields and its three rule lists.
  WizardIniVal.IniFileName = IniFile.path().string();
  if (IniFile.exists()) WizardIniVal.LoadAll();
  lbAllowEM->loadList();
  lbBanSubject->loadList();
  lbBanEM->loadList();

  if (State.StartPhase == kStartFirstRun && wizardPlugged_ && Window().GeneralSettings() == 2) {
    // A cancelled first run: the window closes at its first paint and
    // nothing is saved, so the next start is a first run again.
    IniVal1.Automatic = false;
    State.StartPhase = kStartClosing;
    return;
  }
  if (State.StartPhase == kStartSettingsExisted) {
    State.StartPhase = kStartFirstShowDone;
    if (KVmain->checked("MinCheck1")) {
      State.MainWindowVisible = false;
      windowPort().MinimizeApplication();
    }
  }

  KVWForm1->setValue("KVWccntypeGroup",
                     IniFile.readInteger(settings::kWizardFormName, "KVWccntypeGroup", 1));

  const bool delAll = KVmain->checked("DelAll1");
  Commands.setVisible({"DeleteAll1", "ToolButton5", "btDelall1"}, delAll);
  Window().applyMenuSel();

  if (State.CheckInProgress ||
      (KVWForm1->value("Interval1") != 0 && !KVmain->checked("Disable1"))) {
    notify::TrayIconDisplay(TrayIcon1, notify::kTrayIdle, notify::kIdleOffline);
  } else {
    notify::TrayIconDisplay(TrayIcon1, notify::kTrayIdle, notify::kIdleTimedChecksOff);
  }

  UIDLList.clear();
  VTree1.setColumnWidth(kColSpam, 150);

  const bool sendRcv = !Settings.KeySetA().empty();
  Commands.setEnabled({"SendRcv", "ToolButton4"}, sendRcv);
  State.SendRcvReady = sendRcv ? 1 : 0;
  Commands.setVisible("SendReceive1", sendRcv);
  if (!sendRcv && KVmain->checked("AutoSR")) KVmain->setChecked("AutoSR", false);

  View().SetSortColumn(Settings.Column());

  State.SmtpConfigured = KVWForm1->text("KVWEdhost") != settings::kPlaceholderSmtpHost &&
                         KVWForm1->text("KVWedUser") != settings::kPlaceholderUser;

  TrayIcon1.setIconVisible(true);
  if (KVWForm1->value("Interval1") == 0) Commands.setCaption("Disable1", "Enable Timed Check");

  YHMGroupBox1.InFront = false;
  State.SpamCount = 0;
  State.SuspectCount = 0;
  State.ValidCount = 0;

  ETimer1.setEnabled(true);
  ETimer2.setEnabled(true);

  TabSheet2Visible = Settings.Comms();

  if (KVWForm1->value("KVWccntypeGroup") == 0) {
    State.OnlineState = kOnline;
  } else {
    State.OnlineState = kOffline;
  }
  Commands.setCaption("ShowHide1", "Hide");
}

void TKVmain::FormDestroy() {
  ETimer1.setEnabled(false);
  ETimer2.setEnabled(false);
  if (dialUp().SystemConnectionUp()) dialUp().HangUp();
  if (sessionOwned(State) || State.SessionResetDue) {
    // Closed in the middle of an operation (Exit cancels it first): QUIT
    // would make the DELEs of a cancelled deletion final.
    Pop3Client1.Socket().Close();
    return;
  }
  try {
    Pop3Client1.Quit();
  } catch (...) {
    Pop3Client1.Socket().Close();
  }
}

void TKVmain::SaveOptions() {
  if (!IniVal1.Automatic) return;
  IniVal1.IniFileName = IniFile.path().string();
  IniVal1.SaveAll();
}

void TKVmain::setSysMessages(std::unique_ptr<SysMessages> part) {
  sysMessages_ = part ? std::move(part) : std::make_unique<SysMessages>();
}
void TKVmain::setVersionCheck(std::unique_ptr<VersionCheck> part) {
  versionCheck_ = part ? std::move(part) : std::make_unique<VersionCheck>();
}
void TKVmain::setDialUp(std::unique_ptr<DialUp> part) {
  dialUp_ = part ? std::move(part) : std::make_unique<DialUp>();
}
void TKVmain::setIdleWatch(std::unique_ptr<IdleWatch> part) {
  idleWatch_ = part ? std::move(part) : std::make_unique<SchedulerIdleWatch>(*this);
}
void TKVmain::setQuickReply(std::unique_ptr<QuickReply> part) {
  quickReply_ = part ? std::move(part) : std::make_unique<QuickReply>();
}
void TKVmain::setDeletionCopy(std::unique_ptr<DeletionCopy> part) {
  deletionCopy_ = part ? std::move(part) : std::make_unique<DeletionCopy>();
}

void TKVmain::setWindowPort(std::unique_ptr<WindowPort> part) {
  windowPort_ = part ? std::move(part) : std::make_unique<WindowPort>();
}
void TKVmain::setStartupEntry(std::unique_ptr<StartupEntry> part) {
  startupEntry_ = part ? std::move(part) : std::make_unique<StartupEntry>();
}
void TKVmain::setSettingsWizard(std::unique_ptr<SettingsWizard> part) {
  wizardPlugged_ = part != nullptr;
  settingsWizard_ = part ? std::move(part) : std::make_unique<SettingsWizard>();
}
void TKVmain::setPostCheckNotification(std::unique_ptr<notify::PostCheckNotification> part) {
  notification_ = part ? std::move(part)
                       : std::make_unique<notify::PostCheckNotification>(*notificationBridge_);
}
void TKVmain::setSoundPlayer(std::unique_ptr<notify::SoundPlayer> part) {
  soundPlayer_ = part ? std::move(part) : std::make_unique<notify::SilentSoundPlayer>();
}
void TKVmain::setMailProgram(std::unique_ptr<MailProgram> part) {
  mailProgram_ = part ? std::move(part) : std::make_unique<MailProgram>();
}
void TKVmain::setDesktop(std::unique_ptr<DesktopPort> part) {
  desktop_ = part ? std::move(part) : std::make_unique<DesktopPort>();
}
notify::NotificationHost& TKVmain::notificationHost() {
  return *notificationBridge_;
}

void TKVmain::Timer2Timer() {
  if (!ETimer2.Enabled()) return;
  checkCycle_->guarded([this] { scheduler_->Timer2Timer(); });
}

void TKVmain::SnoozeTimerTimer() {
  if (!SnoozeTimer.Enabled() || SnoozeTimer.Interval() <= 0) return;
  checkCycle_->guarded([this] { scheduler_->SnoozeTimerTimer(notify::IdleSender::Timer); });
}

void TKVmain::TrayIcon1BalloonHintClick(bool shift, bool ctrl) {
  checkCycle_->guarded(
      [this, shift, ctrl] { notification_->TrayIcon1BalloonHintClick(State, shift, ctrl); });
}

void TKVmain::GetServerMessages() {
  checkCycle_->GetServerMessages();
}

bool TKVmain::InitComms() {
  return checkCycle_->InitComms();
}

void TKVmain::EndSession() {
  checkCycle_->guarded([this] { checkCycle_->EndSession(); });
}

void TKVmain::ResetStatus() {
  checkCycle_->guarded([this] { checkCycle_->ResetStatus(); });
}

void TKVmain::DelButtonEnable(bool Enable) {
  checkCycle_->DelButtonEnable(Enable);
}

void TKVmain::VtreeToFront() {
  checkCycle_->VtreeToFront();
}

void TKVmain::btOpenClick() {
  checkCycle_->guarded([this] { checkCycle_->btOpenClick(); });
}

void TKVmain::RequestCheckWithoutClick() {
  checkCycle_->guarded([this] { checkCycle_->RequestCheckWithoutClick(); });
}

void TKVmain::BtCancelClick() {
  checkCycle_->guarded([this] { checkCycle_->BtCancelClick(); });
}

void TKVmain::btDeleteClick(int originTag) {
  checkCycle_->guarded([this, originTag] { deletion_->btDeleteClick(originTag); });
}

void TKVmain::DisplayBody() {
  checkCycle_->guarded([this] { bodyDisplay_->DisplayBody(); });
}

void TKVmain::Delay(std::uint32_t Milliseconds) {
  checkCycle_->Delay(Milliseconds);
}

}  // namespace kelvrin::app
