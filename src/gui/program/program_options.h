#pragma once

// The command line of the desktop program:
//   kelvrin [--home DIR] [--check | --show | --quit] [--minimized]

#include <QStringList>
#include <optional>
#include <string>

namespace kelvrin::gui {

struct ProgramOptions {
  enum class Request { None, Check, Show, Quit };
  std::optional<std::string> home;
  Request request = Request::None;
  bool minimized = false;
  bool help = false;
};

// arguments without the program name. Returns the options, or sets error to
// a text for the user (the program then ends with status 2).
std::optional<ProgramOptions> parseProgramOptions(const QStringList& arguments, std::string& error);

// The word a later start sends to the running instance ("check", "show",
// "quit"; "raise" without a request: bring the window forward).
QString requestWord(ProgramOptions::Request request);

extern const char* const kProgramUsage;

}  // namespace kelvrin::gui
