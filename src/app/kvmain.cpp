#include "app/kvmain.h"

#include "app/body_display.h"
#include "app/check_cycle.h"
#include "app/deletion.h"
#include "app/message_view_handlers.h"
#include "app/session_guard.h"
#include "app/window_handlers.h"
#include "filter/rule_lists.h"
#include "settings/forms.h"
#include "settings/settings_home.h"

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

TKVmain::TKVmain(Ports ports, std::filesystem::path settingsHome)
    : Pump(ports.pump),
      Clock(ports.clock),
      Prompter(ports.prompter),
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
      sysMessages_(std::make_unique<SysMessages>()),
      versionCheck_(std::make_unique<VersionCheck>()),
      dialUp_(std::make_unique<DialUp>()),
      idleWatch_(std::make_unique<IdleWatch>()),
      quickReply_(std::make_unique<QuickReply>()),
      windowPort_(std::make_unique<WindowPort>()),
      deletionCopy_(std::make_unique<DeletionCopy>()),
      startupEntry_(std::make_unique<StartupEntry>()),
      settingsWizard_(std::make_unique<SettingsWizard>()),
      notification_(std::make_unique<notify::PostCheckNotification>()),
      checkCycle_(std::make_unique<CheckCycle>(*this)),
      viewHandlers_(std::make_unique<MessageViewHandlers>(*this)),
      deletion_(std::make_unique<Deletion>(*this)),
      bodyDisplay_(std::make_unique<BodyDisplay>(*this)),
      windowHandlers_(std::make_unique<WindowHandlers>(*this)) {
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
  idleWatch_ = part ? std::move(part) : std::make_unique<IdleWatch>();
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
  settingsWizard_ = part ? std::move(part) : std::make_unique<SettingsWizard>();
}
void TKVmain::setPostCheckNotification(std::unique_ptr<notify::PostCheckNotification> part) {
  notification_ = part ? std::move(part) : std::make_unique<notify::PostCheckNotification>();
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
