#include "cli/demo_server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace kelvrin::test {

namespace fs = std::filesystem;

DemoServerProcess::DemoServerProcess(const std::string& maildir,
                                     const std::vector<std::string>& options)
    : portFile_(maildir + "/../demo-ports") {
  std::vector<std::string> args = {KELVRIN_DEMO_SERVER, "--maildir", maildir,
                                   "--port-file",       portFile_,   "--quiet"};
  args.insert(args.end(), options.begin(), options.end());
  std::error_code ec;
  fs::remove(portFile_, ec);
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec. Its own output
    // would mix with the test's.
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) throw std::runtime_error("cannot start the demo server");
  // The port file appears once the server listens.
  for (int i = 0; i < 500 && popPort_ == 0; ++i) {
    std::ifstream in(portFile_);
    std::string word;
    while (in >> word) {
      if (word == "POP3") {
        in >> word;  // "port"
        in >> popPort_;
        break;
      }
    }
    if (popPort_ == 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        throw std::runtime_error("the demo server ended at start");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (popPort_ == 0) throw std::runtime_error("the demo server wrote no port");
}

DemoServerProcess::~DemoServerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  std::error_code ec;
  fs::remove(portFile_, ec);
}

std::vector<std::string> EmlFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".eml") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void CopyDemoMaildir(const std::string& to, const std::vector<std::string>& only) {
  fs::create_directories(to);
  const fs::path from = fs::path(KELVRIN_SOURCE_DIR) / "share/demo/maildir";
  for (const auto& entry : fs::directory_iterator(from)) {
    const std::string name = entry.path().filename().string();
    if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end()) continue;
    fs::copy_file(entry.path(), fs::path(to) / name, fs::copy_options::overwrite_existing);
  }
}

void CopyDemoLists(const std::string& home) {
  const fs::path from = fs::path(KELVRIN_SOURCE_DIR) / "share/demo/lists";
  for (const auto& entry : fs::directory_iterator(from)) {
    fs::copy_file(entry.path(), fs::path(home) / entry.path().filename(),
                  fs::copy_options::overwrite_existing);
  }
}

}  // namespace kelvrin::test
