#include "gui/program/program.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QMenu>
#include <QSessionManager>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "app/check_cycle.h"
#include "app/header_cache.h"
#include "app/kvmain.h"
#include "app/quarantine_copy.h"
#include "app/status_bar.h"
#include "app/window_handlers.h"
#include "gui/dialogs/box_dialogs.h"
#include "gui/dialogs/deleted_mail_window.h"
#include "gui/dialogs/qt_prompter.h"
#include "gui/dialogs/tips_dialog.h"
#include "gui/program/qt_settings_wizard.h"
#include "gui/program/screenshot_scene.h"
#include "gui/program/signal_bridge.h"
#include "gui/program/single_instance.h"
#include "gui/program/tray_hook.h"
#include "gui/window/communications_tab.h"
#include "gui/window/main_window.h"
#include "gui/window/qt_window_port.h"
#include "gui/window/quick_mail_part.h"
#include "gui/window/website_group.h"
#include "net/dial_up_part.h"
#include "outgoing/sys_messages.h"
#include "platform/host_probe.h"
#include "platform/nm_dialer.h"
#include "platform/posix_host_info.h"
#include "platform/qt_desktop_port.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_https_fetch.h"
#include "platform/qt_sound_player.h"
#include "platform/x11_mail_program.h"
#include "platform/xdg_autostart.h"
#include "protocols/clock.h"
#include "settings/settings_home.h"
#include "ui/message_box.h"

#include "quarantine/quarantine_store.h"
#include "update/version_checker.h"

namespace kelvrin::gui {

namespace {

// How the autostart entry names the program: by name when that is the
// program the desktop will find, else by its full path.
std::string autostartProgram() {
  const QString self = QCoreApplication::applicationFilePath();
  const QString found = QStandardPaths::findExecutable(QStringLiteral("kelvrin"));
  if (!found.isEmpty() &&
      QFileInfo(found).canonicalFilePath() == QFileInfo(self).canonicalFilePath()) {
    return "kelvrin";
  }
  return self.toStdString();
}

// Deletion without a quarantine to keep the copies in: nothing is deleted.
class NoQuarantine final : public app::DeletionCopy {
 public:
  explicit NoQuarantine(std::string why) : why_(std::move(why)) {}
  bool CopyBeforeDelete(app::TKVmain& kv, std::uint16_t, const filter::MessageNode&) override {
    kv.dfsStatus.setStatus(app::failureStatus(why_));
    return false;
  }

 private:
  std::string why_;
};

}  // namespace

Program::Program(std::filesystem::path home, ProgramOptions options, QtPrompter& prompter,
                 SingleInstance& instance, SignalBridge& signalBridge)
    : home_(std::move(home)),
      options_(std::move(options)),
      prompter_(prompter),
      instance_(instance),
      signals_(signalBridge) {}

Program::~Program() {
  // The window and the tray observe the core: they go first.
  inputWatch_.reset();
  tray_.reset();
  trayMenu_.reset();
  window_.reset();
  kv_.reset();
  hostProbe_.reset();
  httpsFetch_.reset();
  hostInfo_.reset();
  nmDialer_.reset();
  store_.reset();
}

int Program::run() {
  pump_ = std::make_unique<platform::QtEventPump>();
  clock_ = std::make_unique<protocols::SystemClock>();
  kv_ = std::make_unique<app::TKVmain>(app::Ports{{}, *pump_, *clock_, prompter_}, home_);
  auto& kv = *kv_;
  kv.setSoundPlayer(std::make_unique<platform::QtSoundPlayer>());
  kv.setDesktop(std::make_unique<platform::QtDesktopPort>());
  nmDialer_ = std::make_unique<platform::NmDialer>();
  hostInfo_ = std::make_unique<platform::PosixHostInfo>(
      [dialer = nmDialer_.get()] { return dialer->dialUpStatus(); });
  {
    auto part = std::make_unique<net::DialUpPart>(kv, *hostInfo_, *nmDialer_);
    dialUp_ = part.get();
    kv.setDialUp(std::move(part));
  }
  // Command and flash mails are taken out of every check and answered.
  auto commandMails = std::make_unique<outgoing::CommandMails>(kv);
  outgoing::MailSender& mailSender = commandMails->Sender();
  kv.setSysMessages(std::move(commandMails));
  kv.setMailProgram(std::make_unique<platform::X11MailProgram>());
  // The idle measure: the user's key and mouse events to our own windows.
  inputWatch_ = std::make_unique<platform::InputWatch>([&kv] { kv.inputSeen(); });
  // Before FormCreate, which has the website list put in order.
  httpsFetch_ = std::make_unique<platform::QtHttpsFetch>();
  hostProbe_ = std::make_unique<platform::ResolverHostProbe>(*pump_);
  auto checker = std::make_unique<update::VersionChecker>(
      kv, *httpsFetch_, *hostProbe_, update::updateUrlFrom(kv.IniFile), update::ownVersion());
  update::VersionChecker& versionChecker = *checker;
  kv.setVersionCheck(std::move(checker));
  kv.FormCreate();
  // Fast on a distant server: pipelined header checks where the server
  // allows them, and the headers of earlier checks taken from the cache.
  kv.Pop3Client1.AskCapabilities = true;
  kv.Check().setHeaderCacheFolder(app::HeaderCache::DefaultFolder(settings::processEnvironment));
  if (app::QuarantineSettingsOf(*kv.KVmain).Enabled) {
    // No copy, no DELE: without its folder the deletion keeps every message.
    try {
      store_ = std::make_unique<quarantine::QuarantineStore>(
          quarantine::QuarantineStore::DefaultFolder(settings::processEnvironment));
      kv.setDeletionCopy(std::make_unique<app::QuarantineCopy>(*store_, /*askForLarge=*/true));
    } catch (const std::exception& e) {
      std::cerr << "kelvrin: no quarantine for deleted mail: " << e.what() << '\n';
      kv.setDeletionCopy(std::make_unique<NoQuarantine>(std::string("No quarantine: ") + e.what()));
    }
  }

  window_ = std::make_unique<MainWindow>(kv);
  window_->addCommunicationsGroup(new WebsiteGroup(versionChecker.Websites(), *kv.WebListBox1));
  prompter_.setParentWindow(window_.get());
  {
    // Quick mails leave through the same sender as the answers to commands.
    auto quickMail = std::make_unique<QuickMailPart>(kv, mailSender, window_.get());
    window_->communicationsTab()->setQuickMail(quickMail.get());
    kv.setQuickReply(std::move(quickMail));
  }
  kv.setWindowPort(std::make_unique<QtWindowPort>(window_.get()));
  std::optional<std::string> homeForAutostart;
  if (options_.home || std::getenv("KELVRIN_HOME") != nullptr) homeForAutostart = home_.string();
  kv.setStartupEntry(
      std::make_unique<platform::XdgStartupEntry>(autostartProgram(), homeForAutostart));
  // Made before FormShow, which opens it on a first run.
  {
    auto wizard = std::make_unique<QtSettingsWizard>(kv);
    wizard->setServiceEntries([this] { return dialUp_->phoneBookEntries(); });
    kv.setSettingsWizard(std::move(wizard));
  }

  trayMenu_ = window_->makeTrayMenu();
  window_->setTrayMenu(trayMenu_.get());
  tray_ = makeTray(kv, trayMenu_.get(), this);
  QObject* tray = tray_.get();
  window_->setTrayAvailable([tray] { return trayShown(tray); });
  window_->setExitSequence([this] { exitSequence(true); });
  window_->setDeletedMailOpener([this] { openDeletedMail(); });
  armScreenshotScene(kv, *window_, *trayMenu_);

  connect(&signals_, &SignalBridge::received, this, [this](int) { exitSequence(false); });
  connect(qApp, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager&) { exitSequence(false); });
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { exitSequence(false); });
  connect(&instance_, &SingleInstance::requestReceived, this, &Program::handleRequest);

  TipsDialog::install(tips_, window_.get());
  window_->setOptionHandler("ShowTips1", [this] { ui::ShowTips1Click(*kv_->KVmain, tips_); });
  const bool normalStart = kv.State.StartPhase == app::kStartSettingsExisted;

  // The window is designed visible; FormShow may send it to the tray.
  kv.State.MainWindowVisible = true;
  kv.Check().guarded([&kv] { kv.FormShow(); });
  if (exited_ || kv.State.StartPhase == app::kStartClosing) {
    // The first-run wizard was cancelled, or the program was told to end
    // while it was open: nothing was set up, so nothing is saved and no
    // window is shown.
    kv.IniVal1.Automatic = false;
    exitSequence(false);
    return 1;
  }
  // The online state of a dial-up connection type comes from the detector,
  // which then polls; the dialler's wait is ended from the same clock.
  dialUp_->ConnectionTypeChanged(kv.KVWForm1->value("KVWccntypeGroup"));
  auto* netTimer = new QTimer(this);
  netTimer->setInterval(100);
  connect(netTimer, &QTimer::timeout, this, [this] {
    if (exited_ || !kv_) return;
    kv_->Check().guarded(
        [this] { dialUp_->Poll(static_cast<std::uint64_t>(kv_->Clock.TickCount())); });
  });
  netTimer->start();
  connect(window_->commandAction("Disconnect1"), &QAction::triggered, this, [this] {
    if (!exited_ && kv_) kv_->Check().guarded([this] { dialUp_->Disconnect1Click(); });
  });
  if (options_.request == ProgramOptions::Request::Show) {
    // Asked to show: the window comes up whatever "Start Minimized" says.
    if (!kv.State.MainWindowVisible) kv.Window().ShowHide1Click();
    window_->show();
  } else if (options_.minimized && kv.State.MainWindowVisible) {
    kv.State.MainWindowVisible = false;
    kv.Commands.setCaption("ShowHide1", "Show");
    window_->minimizeApplication();
  } else if (kv.State.MainWindowVisible) {
    window_->show();
  }
  // Up: from now on later starts are answered.
  if (!instance_.listen()) std::cerr << instance_.error().toStdString() << '\n';
  if (normalStart) {
    // The tip of the day, once the program is up and answering: it waits
    // for the user, and the program goes on meanwhile.
    QTimer::singleShot(0, this, [this] {
      if (!exited_ && kv_) ui::ShowTipsAtStart(*kv_->KVmain, tips_);
    });
  }
  if (options_.request == ProgramOptions::Request::Check) {
    QTimer::singleShot(0, this, [&kv] { kv.btOpenClick(); });
  }
  looping_ = true;
  return QApplication::exec();
}

void Program::openDeletedMail() {
  if (!deletedMail_) {
    std::filesystem::path folder;
    try {
      folder = quarantine::QuarantineStore::DefaultFolder(settings::processEnvironment);
    } catch (const std::exception& e) {
      prompter_.MsgBox(e.what(), "Deleted mail", false, ui::kMbOk | ui::kMbIconStop);
      return;
    }
    deletedMail_ = new DeletedMailWindow(folder, *kv_->KVWForm1, *pump_, window_.get());
  }
  if (deletedMail_->isVisible()) deletedMail_->refresh();
  deletedMail_->show();
  deletedMail_->raise();
  deletedMail_->activateWindow();
}

void Program::handleRequest(const QString& request) {
  if (exited_ || !kv_) return;
  auto& kv = *kv_;
  if (request == QLatin1String("check")) {
    kv.btOpenClick();
  } else if (request == QLatin1String("quit")) {
    kv.BtCancelClick();
    kv.ResetStatus();
    exitSequence(false);
  } else if (request == QLatin1String("show") || request == QLatin1String("raise")) {
    if (kv.State.MainWindowVisible) {
      kv.windowPort().ShowWindowFromTray();
    } else {
      kv.Window().ShowHide1Click();
    }
  }
}

void Program::exitSequence(bool closeQueried) {
  if (exited_ || !kv_) return;
  exited_ = true;
  auto& kv = *kv_;
  window_->setExiting();
  if (!closeQueried) {
    // Not a close of the window: nothing may keep the program, so "Close To
    // Tray" is not asked (the window counts as hidden).
    kv.State.MainWindowVisible = false;
    kv.Check().guarded([&kv] { kv.Window().FormCloseQuery(); });
  }
  kv.FormDestroy();
  // Ended before the first-run wizard was finished: no settings file, so the
  // next start is a first run again.
  if (kv.State.StartPhase == app::kStartFirstRun) kv.IniVal1.Automatic = false;
  try {
    kv.SaveOptions();
  } catch (const std::exception& e) {
    std::cerr << "kelvrin: the options could not be saved: " << e.what() << '\n';
  }
  window_->hide();
  if (!looping_) {
    // Before the event loop runs, quit() ends nothing: the first-run
    // wizard's own loop is ended by closing it.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) {
        dialog->reject();
      }
    }
  }
  QCoreApplication::quit();
}

}  // namespace kelvrin::gui
