#pragma once

// Running kelvrin-cli in the test's process, and reading its JSON back with
// the system's Python (a strict UTF-8 and JSON reader that is not ours).

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace kelvrin::test {

struct CliResult {
  int exit = -1;
  std::string out;
  std::string err;
};

inline CliResult RunCli(const std::vector<std::string>& args, const cli::Environment& env = {}) {
  std::ostringstream out;
  std::ostringstream err;
  CliResult result;
  result.exit = cli::run(args, out, err, env);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// Runs a Python program with the JSON text on its standard input; returns
// what it printed, or "ERROR ..." when it failed.
std::string WithPython(const std::string& program, const std::string& json);

}  // namespace kelvrin::test
