#pragma once

// kelvrin-cli: the main job of Kelvrin without a display.
//
//   kelvrin-cli [--home DIR] init --address A --pop-host H --user U --password P ...
//   kelvrin-cli [--home DIR] check [--json]
//   kelvrin-cli [--home DIR] delete [--json]
//   kelvrin-cli [--home DIR] show N
//   kelvrin-cli [--home DIR] send --to ADDRS --subject TEXT [--body TEXT | --body-file FILE]
//   kelvrin-cli [--home DIR] greet|flash --to ADDR TEXT
//
// Exit status: 0 the check (and deletion) completed, 1 it did not (the
// status on standard error), 2 usage errors.

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "protocols/clock.h"
#include "protocols/socket.h"
#include "settings/settings_home.h"

namespace kelvrin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// What a run may take from its surroundings; tests replace them.
struct Environment {
  settings::EnvironmentLookup environment = settings::processEnvironment;
  protocols::SocketFactory socketFactory;  // empty: real sockets
  protocols::Clock* clock = nullptr;       // null: the system clock
  // Catch Ctrl-C and turn it into Cancel (the program does; tests do not).
  bool handleInterrupt = false;
  // Where `send` reads a body given neither inline nor as a file (null:
  // standard input).
  std::istream* input = nullptr;
};

const char* usageText();

// Runs one command line (without the program name).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& env = {});

}  // namespace kelvrin::cli
