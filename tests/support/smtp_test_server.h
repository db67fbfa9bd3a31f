#pragma once

// The SMTP server of the tests: smtp_server.py (aiosmtpd, Debian's
// python3-aiosmtpd) run with /usr/bin/python3 on a free loopback port.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace kelvrin::test {

class SmtpTestServer {
 public:
  enum class Mode { Plain, StartTls, ImplicitTls };
  static constexpr const char* kPython = "/usr/bin/python3";
  // python3 with the aiosmtpd module is installed.
  static bool Available();

  // With a maildir, every message is also delivered into it (Return-Path
  // added, into new/).
  explicit SmtpTestServer(Mode mode, bool offerLogin = true, const std::string& maildir = {});
  ~SmtpTestServer();

  std::uint16_t Port() const { return port_; }
  const std::string& CaFile() const { return certificate_.CertFile; }
  const char* User() const { return "bob"; }
  const char* Password() const { return "secret"; }
  // The events the server logged so far, one per line (see smtp_server.py).
  std::vector<std::string> Events() const;

 private:
  TempDir dir_;
  TestCertificate certificate_;
  std::uint16_t port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace kelvrin::test
