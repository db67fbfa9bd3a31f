#pragma once

// A server process started by a test fixture and stopped by its PID.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvrin::test {

class ChildProcess {
 public:
  // Starts argv[0] (a path) with stdout and stderr appended to logFile.
  // Throws std::runtime_error when it cannot be started.
  ChildProcess(const std::vector<std::string>& argv, const std::string& logFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running();
  // SIGTERM, then SIGKILL after graceMs; reaps the process.
  void Stop(int graceMs = 5000);

 private:
  pid_t pid_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort();

// True once a connection to 127.0.0.1:port succeeds, false after timeoutMs.
bool WaitForListener(std::uint16_t port, int timeoutMs);

// True when path names an executable file.
bool IsExecutable(const std::string& path);

}  // namespace kelvrin::test
