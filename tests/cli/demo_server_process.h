#pragma once

// kelvrin-demo-server as a child process on a private copy of a mailbox: it
// is started on free ports, and stopped by its PID when the object goes.

#include <sys/types.h>

#include <string>
#include <vector>

namespace kelvrin::test {

class DemoServerProcess {
 public:
  // Starts the server on `maildir` with the extra options (fault injection),
  // and waits until it has written its ports.
  DemoServerProcess(const std::string& maildir, const std::vector<std::string>& options = {});
  ~DemoServerProcess();
  DemoServerProcess(const DemoServerProcess&) = delete;
  DemoServerProcess& operator=(const DemoServerProcess&) = delete;

  int PopPort() const { return popPort_; }
  bool Running() const { return pid_ > 0 && popPort_ > 0; }

 private:
  pid_t pid_ = -1;
  int popPort_ = 0;
  std::string portFile_;
};

// The .eml file names of a folder, sorted.
std::vector<std::string> EmlFiles(const std::string& folder);

// Copies the demo mailbox (or the files of it that `only` names) to a folder.
void CopyDemoMaildir(const std::string& to, const std::vector<std::string>& only = {});
// Copies the demo rule lists into a settings home.
void CopyDemoLists(const std::string& home);

}  // namespace kelvrin::test
