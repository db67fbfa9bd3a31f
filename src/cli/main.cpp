#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
  // Address matching upper-cases single bytes the way the user's locale does;
  // numbers and everything else keep the C locale.
  std::setlocale(LC_CTYPE, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  kelvrin::cli::Environment env;
  env.handleInterrupt = true;
  return kelvrin::cli::run(args, std::cout, std::cerr, env);
}
