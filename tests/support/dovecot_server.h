#pragma once

// A private Dovecot POP3 server for tests and benchmarks: its own
// configuration, base_dir and state under a temporary folder, one
// passwd-file user with a maildir, plain POP3 (with STLS) and POP3S on free
// loopback ports, and a self-signed certificate. Works as root (mail
// processes run as "nobody", login processes as Debian's "dovenull") and as
// an ordinary user (everything runs as that user).

#include <cstdint>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace kelvrin::test {

class DovecotServer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/dovecot";
  static bool Available() { return IsExecutable(kBinary); }

  DovecotServer();
  ~DovecotServer();

  // Puts a message (lines ending in LF or CR LF) into the maildir; call
  // before Start. Messages are listed in the order they were added.
  void AddMessage(const std::string& text);
  // Starts the server and waits until it answers; throws
  // std::runtime_error with the server's log when it does not.
  void Start();
  void Stop();

  std::uint16_t Pop3Port() const { return pop3Port_; }
  std::uint16_t Pop3sPort() const { return pop3sPort_; }
  const std::string& CaFile() const { return certificate_.CertFile; }
  const char* User() const { return "bob"; }
  const char* Password() const { return "secret"; }
  std::string Log() const;
  // The user's maildir (cur/, new/, tmp/), for a delivery while it runs.
  std::string Maildir() const { return dir_.Path() + "/home/Maildir"; }

 private:
  void writeConfiguration();

  TempDir dir_;
  TestCertificate certificate_;
  std::uint16_t pop3Port_ = 0;
  std::uint16_t pop3sPort_ = 0;
  int messages_ = 0;
  unsigned mailUid_ = 0;
  unsigned mailGid_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace kelvrin::test
