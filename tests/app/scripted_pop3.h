#pragma once

// A POP3 server as a Socket double, for exact dialogues across several
// sessions: each Open starts the next session of the script, every line the
// client sends must be the next "C:" line, and the "S:" lines after it are
// what the client reads next. Nothing touches the network and no thread is
// involved, so an EventPump double can act at an exact point of a dialogue.
//
//   S: +OK ready        the server sends the line (CR LF added)
//   C: USER bob         the client must send exactly this line
//   X:                  the server closes the connection here
//
// While nothing is there to read, a wait advances the shared FakeClock by
// its time-out, as the real wait would have taken that long.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "protocols/clock.h"
#include "protocols/socket.h"

namespace kelvrin::test {

class FakeClock final : public protocols::Clock {
 public:
  std::int64_t TickCount() override { return now; }
  void Sleep(int milliseconds) override {
    if (milliseconds > 0) now += milliseconds;
  }
  std::int64_t now = 1000000;
};

class ScriptedPop3 {
 public:
  explicit ScriptedPop3(FakeClock& clock) : clock_(clock) {}

  // Appends one session; steps are lines as above.
  void AddSession(const std::vector<std::string>& steps);

  // Everything the client sent, one command per entry; "--" where a session
  // began.
  const std::vector<std::string>& Log() const { return log_; }
  // The commands of one session (0-based).
  std::vector<std::string> SessionCommands(std::size_t session) const;
  int SessionsOpened() const { return static_cast<int>(current_ + (started_ ? 1 : 0)); }

  // Every session was opened and played to its end, and the client sent
  // nothing the script did not expect.
  testing::AssertionResult Finished() const;

  // A socket that plays this script (give it to the POP3 client's factory).
  std::unique_ptr<protocols::Socket> MakeSocket();

 private:
  class Socket;
  struct Step {
    char kind;  // 'C', 'S', 'X'
    std::string text;
  };
  struct Session {
    std::vector<Step> steps;
    std::size_t pos = 0;
  };

  void open();
  void receiveLine(const std::string& line);
  void runServerSteps();
  bool waitReadable(int timeoutMs);
  std::size_t receive(char* buffer, std::size_t size);
  // As with a real socket, the client learns that the server closed ("X:")
  // only by reading the end of the connection.
  bool connected() const { return connected_ && !endRead_; }
  void close() { connected_ = false; }

  FakeClock& clock_;
  std::vector<Session> sessions_;
  std::size_t current_ = 0;
  bool started_ = false;
  bool connected_ = false;
  bool peerClosed_ = false;
  bool endRead_ = false;
  std::string incoming_;
  std::string pendingLine_;
  std::vector<std::string> log_;
  std::vector<std::string> errors_;
};

// Builders of the usual dialogue pieces.
struct ScriptMessage {
  std::vector<std::string> headers;  // "From: a@b" ...
  std::string uidl;                  // empty: the server has no unique ids
  int size = 300;
};

// Greeting and login.
std::vector<std::string> LoginSteps(const std::string& user = "bob",
                                    const std::string& password = "secret");
// STAT, LAST and the UIDL probe (refused when withUidl is false).
std::vector<std::string> StatSteps(const std::vector<ScriptMessage>& messages, bool withUidl);
// LIST, TOP and (with ids) UIDL for every message.
std::vector<std::string> RetrieveSteps(const std::vector<ScriptMessage>& messages, bool withUidl);
// The UIDL list of a deletion.
std::vector<std::string> UidlListSteps(const std::vector<ScriptMessage>& messages);
std::vector<std::string> QuitSteps();
// A whole check of a mailbox: login, STAT, every message and, with ids, QUIT.
std::vector<std::string> CheckSession(const std::vector<ScriptMessage>& messages, bool withUidl);

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts);

// A message addressed to the user (valid) or to someone else (spam).
ScriptMessage ValidMessage(int n, const std::string& uidl = "");
ScriptMessage SpamMessage(int n, const std::string& uidl = "");

}  // namespace kelvrin::test
