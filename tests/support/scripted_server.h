#pragma once

// A mail server that plays a written dialogue, for protocol tests.
//
// The script is data, one step per line:
//   C: USER bob      the client must send exactly this line (CR LF stripped)
//   C~ EHLO .*       the client must send a line matching the regular expression
//   S: +OK ready     the server sends the text and CR LF
//   S~ +O            the server sends the text as it stands, with the escapes
//                    \r \n \t \\ and \xHH, and no CR LF of its own
//   P: 700           pause for 700 ms (what was queued is sent first)
//   T:               TLS handshake (server side) on the connection
//   T!               a TLS handshake the client is expected to abort
//   X:               close the connection now
// Consecutive S steps go out in one write; use P between them to make the
// client see the pieces separately. Empty lines and lines starting with "#"
// are ignored.
//
// It listens on 127.0.0.1 on a port chosen by the system, serves one
// connection on its own thread and logs everything the client sent.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_certificate.h"

namespace kelvrin::test {

class ScriptedServer {
 public:
  struct Options {
    const TestCertificate* Certificate = nullptr;  // needed for T: and implicit TLS
    bool ImplicitTls = false;
    int StepTimeoutMs = 10000;  // how long a C step waits for the client
  };

  explicit ScriptedServer(const std::string& script) : ScriptedServer(script, Options{}) {}
  ScriptedServer(const std::string& script, Options options);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  // Ends the session and tells whether the whole script was played, every
  // client line matched and the client sent nothing beyond the script. Call
  // it after the client is done: what the client has not sent by then
  // counts as missing.
  testing::AssertionResult Finished();

  // Everything the client sent (after TLS: the decrypted bytes).
  std::string ClientLog() const;

 private:
  struct Step {
    char kind;  // 'C' exact, 'R' regex, 'S' send, 'P' pause, 'T' TLS, 'F' failing TLS, 'X' close
    std::string text;
    int lineNumber;
  };
  class Connection;

  void parse(const std::string& script);
  void run();
  void fail(const std::string& message);

  Options options_;
  std::vector<Step> steps_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::string log_;
  std::vector<std::string> errors_;
  std::size_t stepsDone_ = 0;
  std::thread thread_;
};

// Decodes the escapes of an "S~" step.
std::string Unescape(const std::string& text);

}  // namespace kelvrin::test
