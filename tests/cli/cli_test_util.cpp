#include "cli/cli_test_util.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace kelvrin::test {

std::string WithPython(const std::string& program, const std::string& json) {
  TempDir dir("kelvrin-json-");
  const std::string input = dir.File("out.json");
  const std::string script = dir.File("read.py");
  {
    std::ofstream(input, std::ios::binary) << json;
    std::ofstream(script) << "import json, sys\n"
                          << "data = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8', "
                             "'strict'))\n"
                          << program << "\n";
  }
  const std::string command = "/usr/bin/python3 " + script + " " + input + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "ERROR cannot run python";
  std::string output;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0) return "ERROR " + output;
  return output;
}

}  // namespace kelvrin::test
