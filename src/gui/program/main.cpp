// kelvrin: the desktop program.

#include <QApplication>
#include <csignal>
#include <filesystem>
#include <iostream>

#include "gui/dialogs/box_dialogs.h"
#include "gui/dialogs/qt_prompter.h"
#include "gui/program/program.h"
#include "gui/program/program_options.h"
#include "gui/program/signal_bridge.h"
#include "gui/program/single_instance.h"
#include "settings/settings_error.h"
#include "settings/settings_home.h"
#include "ui/message_box.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kelvrin"));
  QApplication::setDesktopFileName(QStringLiteral("kelvrin"));
  // A tray program: closing its last window does not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  using namespace kelvrin;
  // QApplication has taken its own options out of argv.
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  std::string error;
  const auto options = gui::parseProgramOptions(arguments, error);
  if (!options) {
    std::cerr << error << '\n';
    return 2;
  }
  if (options->help) {
    std::cout << gui::kProgramUsage;
    return 0;
  }

  // From the start, a termination signal ends the program in its event
  // loop; until the program runs, that is all it does.
  gui::SignalBridge signalBridge({SIGTERM, SIGINT, SIGHUP});
  const auto early = QObject::connect(&signalBridge, &gui::SignalBridge::received, &app,
                                      [](int) { QCoreApplication::exit(1); });

  std::filesystem::path home;
  try {
    home = settings::resolveSettingsHome(options->home);
    settings::ensureSettingsHome(home);
  } catch (const std::exception& e) {
    std::cerr << "kelvrin: " << e.what() << '\n';
    return 1;
  }

  gui::SingleInstance instance(home);
  switch (instance.acquire(gui::requestWord(options->request))) {
    case gui::SingleInstance::Outcome::HandedOver:
      return 0;
    case gui::SingleInstance::Outcome::Failed:
      std::cerr << instance.error().toStdString() << '\n';
      return 1;
    case gui::SingleInstance::Outcome::First:
      break;
  }
  if (options->request == gui::ProgramOptions::Request::Quit) {
    std::cerr << "kelvrin: Kelvrin does not run for " << home.string() << '\n';
    return 0;
  }

  gui::QtPrompter prompter;

  QObject::disconnect(early);
  gui::Program program(home, *options, prompter, instance, signalBridge);
  return program.run();
}
