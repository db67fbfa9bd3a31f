#include "gui/program/program_options.h"

namespace kelvrin::gui {

const char* const kProgramUsage =
    "usage: kelvrin [--home DIR] [--check | --show | --quit] [--minimized]\n"
    "\n"
    "  --home DIR    the settings home (default: $KELVRIN_HOME, else\n"
    "                $XDG_CONFIG_HOME/kelvrin)\n"
    "  --check       the running Kelvrin checks the mailbox (without one,\n"
    "                Kelvrin starts and checks once it is up)\n"
    "  --show        the running Kelvrin shows its window\n"
    "  --quit        the running Kelvrin ends, saving its options\n"
    "  --minimized   start in the tray (or minimised when there is no tray)\n"
    "\n"
    "One Kelvrin runs per settings home; a second start without options\n"
    "brings the first one's window forward.\n";

std::optional<ProgramOptions> parseProgramOptions(const QStringList& arguments,
                                                  std::string& error) {
  ProgramOptions options;
  auto setRequest = [&](ProgramOptions::Request r, const QString& word) {
    if (options.request != ProgramOptions::Request::None && options.request != r) {
      error = "kelvrin: " + word.toStdString() + " cannot be combined with another request";
      return false;
    }
    options.request = r;
    return true;
  };
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("--home")) {
      if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
        error = "kelvrin: --home needs a folder";
        return std::nullopt;
      }
      options.home = arguments[++i].toStdString();
    } else if (a.startsWith(QLatin1String("--home="))) {
      const QString value = a.mid(7);
      if (value.isEmpty()) {
        error = "kelvrin: --home needs a folder";
        return std::nullopt;
      }
      options.home = value.toStdString();
    } else if (a == QLatin1String("--check")) {
      if (!setRequest(ProgramOptions::Request::Check, a)) return std::nullopt;
    } else if (a == QLatin1String("--show")) {
      if (!setRequest(ProgramOptions::Request::Show, a)) return std::nullopt;
    } else if (a == QLatin1String("--quit")) {
      if (!setRequest(ProgramOptions::Request::Quit, a)) return std::nullopt;
    } else if (a == QLatin1String("--minimized")) {
      options.minimized = true;
    } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      options.help = true;
    } else {
      error = "kelvrin: unknown argument " + a.toStdString() + " (see kelvrin --help)";
      return std::nullopt;
    }
  }
  return options;
}

QString requestWord(ProgramOptions::Request request) {
  switch (request) {
    case ProgramOptions::Request::Check:
      return QStringLiteral("check");
    case ProgramOptions::Request::Show:
      return QStringLiteral("show");
    case ProgramOptions::Request::Quit:
      return QStringLiteral("quit");
    case ProgramOptions::Request::None:
      break;
  }
  return QStringLiteral("raise");
}

}  // namespace kelvrin::gui
