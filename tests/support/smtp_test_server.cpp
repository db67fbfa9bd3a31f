#include "support/smtp_test_server.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kelvrin::test {

bool SmtpTestServer::Available() {
  return IsExecutable(kPython) &&
         std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") == 0;
}

SmtpTestServer::SmtpTestServer(Mode mode, bool offerLogin, const std::string& maildir)
    : dir_("kelvrin-smtp-"), certificate_(TestCertificate::Create(dir_.Path())) {
  std::vector<std::string> argv = {
      kPython,
      std::string(KELVRIN_TEST_SUPPORT_DIR) + "/smtp_server.py",
      "--port-file",
      dir_.File("port"),
      "--log",
      dir_.File("events"),
      "--cert",
      certificate_.CertFile,
      "--key",
      certificate_.KeyFile,
      "--mode",
      mode == Mode::Plain ? "plain" : mode == Mode::StartTls ? "starttls" : "implicit"};
  if (!offerLogin) argv.push_back("--no-login");
  if (!maildir.empty()) {
    argv.push_back("--maildir");
    argv.push_back(maildir);
  }
  process_ = std::make_unique<ChildProcess>(argv, dir_.File("server.out"));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!std::filesystem::exists(dir_.File("port"))) {
    if (!process_->Running() || std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("the SMTP test server did not start:\n" +
                               ReadTextFile(dir_.File("server.out")));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  port_ = static_cast<std::uint16_t>(std::stoi(ReadTextFile(dir_.File("port"))));
}

SmtpTestServer::~SmtpTestServer() {
  if (process_) process_->Stop();
}

std::vector<std::string> SmtpTestServer::Events() const {
  std::vector<std::string> events;
  std::istringstream in(ReadTextFile(dir_.File("events")));
  for (std::string line; std::getline(in, line);)
    events.push_back(line);
  return events;
}

}  // namespace kelvrin::test
