#pragma once

// The desktop program for one settings home, from start-up to exit: the
// ports, the core, the main window, the tray and the one exit sequence that
// every way out runs (Exit, closing the window, a later start's --quit, the
// termination signals and the end of the desktop session).

#include <QObject>
#include <QPointer>
#include <filesystem>
#include <memory>

#include "gui/program/program_options.h"
#include "ui/tips.h"

class QMenu;

namespace kelvrin::app {
class TKVmain;
}
namespace kelvrin::platform {
class QtEventPump;
class QtHttpsFetch;
class ResolverHostProbe;
class NmDialer;
class PosixHostInfo;
}  // namespace kelvrin::platform
namespace kelvrin::net {
class DialUpPart;
}
namespace kelvrin::protocols {
class SystemClock;
}
namespace kelvrin::quarantine {
class QuarantineStore;
}

namespace kelvrin::gui {

class DeletedMailWindow;
class MainWindow;
class QtPrompter;
class SignalBridge;
class SingleInstance;

class Program : public QObject {
  Q_OBJECT
 public:
  // signalBridge: the bridge of the termination signals, made before anything
  // else so that none is lost while the program starts.
  Program(std::filesystem::path home, ProgramOptions options, QtPrompter& prompter,
          SingleInstance& instance, SignalBridge& signalBridge);
  ~Program() override;

  // Starts up (FormCreate, the window, FormShow) and runs the event loop;
  // returns the exit status.
  int run();

  // A later start's request.
  void handleRequest(const QString& request);

  // The exit sequence. closeQueried: the window's close already asked
  // FormCloseQuery (and it agreed).
  void exitSequence(bool closeQueried);

 private:
  void openDeletedMail();
  std::filesystem::path home_;
  ProgramOptions options_;
  QtPrompter& prompter_;
  SingleInstance& instance_;
  std::unique_ptr<platform::QtEventPump> pump_;
  std::unique_ptr<protocols::SystemClock> clock_;
  // Where a deletion keeps its copies; outlives the core, which uses it.
  std::unique_ptr<quarantine::QuarantineStore> store_;
  // The version check's network; outlives the core, which uses it.
  std::unique_ptr<platform::QtHttpsFetch> httpsFetch_;
  std::unique_ptr<platform::ResolverHostProbe> hostProbe_;
  // Dial-up and the online state; outlive the core, which uses them.
  std::unique_ptr<platform::NmDialer> nmDialer_;
  std::unique_ptr<platform::PosixHostInfo> hostInfo_;
  net::DialUpPart* dialUp_ = nullptr;  // owned by the core
  std::unique_ptr<app::TKVmain> kv_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QMenu> trayMenu_;
  std::unique_ptr<QObject> tray_;
  std::unique_ptr<QObject> inputWatch_;
  QPointer<DeletedMailWindow> deletedMail_;  // a child of the main window
  ui::TTips tips_;
  SignalBridge& signals_;
  bool exited_ = false;
  // The program's event loop runs.
  bool looping_ = false;
};

}  // namespace kelvrin::gui
