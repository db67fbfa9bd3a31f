#pragma once

// A POP3 server with a real mailbox behind the socket port: messages keep
// their positions for a session, DELE marks, RSET unmarks, and only QUIT
// removes the marked messages; a session that ends any other way removes
// nothing (RFC 1939). Faults are injected by command number, counted over
// all sessions: the k-th command is answered "-ERR", or the connection is
// dropped when it arrives (the command is lost). Every DELE is audited: which
// message the position named in that session.
//
// Replies can be made slow (readable only after one wait), so that the
// client pumps events while it waits, as it does against a real server, and
// can arrive in several pieces, each after its own wait.
//
// The two ends of the connection are apart, as with a real socket: after
// QUIT (or a dropped connection) the server's end is closed, but the
// client's end stays open until the client closes it, which it learns only
// by reading; so the client's own Close ends a connection it opened and is
// announced (OnDisconnected) like the real one.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/scripted_pop3.h"
#include "protocols/socket.h"

namespace kelvrin::test {

struct MailboxMessage {
  std::string id;  // unique id (also the audit name)
  std::vector<std::string> headers;
  std::vector<std::string> body;
  bool spam = false;  // what the test expects the scoring to say
};

class MailboxPop3 {
 public:
  explicit MailboxPop3(FakeClock& clock) : clock_(&clock) {}

  std::vector<MailboxMessage> mailbox;
  bool withUidl = true;
  bool refuseDele = false;  // DELE always "-ERR"
  bool ignoreDele = false;  // DELE "+OK" without marking anything
  // CAPA lists PIPELINING (and LIST without a number lists every size);
  // without it CAPA is an unknown command.
  bool pipelining = false;
  bool slowReplies = false;
  // Every reply arrives in this many pieces (with slowReplies, each after a
  // wait of its own).
  int replyPieces = 1;
  int errOn = 0;      // answer the k-th command with -ERR (0: never)
  int dropAfter = 0;  // drop the connection when the k-th command arrives (0: never)
  // Told every command line as it arrives.
  std::function<void(const std::string&)> onCommand;

  // How the unique-id listing (UIDL without argument) is written; every
  // line still names its message correctly, as RFC 1939 allows.
  enum class Listing {
    InOrder,
    Reversed,      // last message first
    FirstLeftOut,  // a gap: the first message has no line
    NumberTwice,   // the first line again with another id: unusable
  };
  Listing listing = Listing::InOrder;
  // A buggy server: the first spam message has the id of the first valid
  // one, in the listing and in UIDL n alike.
  bool spamSharesValidId = false;
  // STAT gives this count instead of the mailbox's (0: the real one).
  long long statCount = 0;
  // Bytes sent after the reply to a command, as if they were part of it
  // (CR LF added); the greeting is the reply to "". Empty: nothing.
  std::function<std::string(const std::string& command)> unsolicitedAfter;

  struct DeleAudit {
    int position;
    std::string id;  // the message at that position in that session; empty: none
    bool accepted;
  };
  const std::vector<DeleAudit>& Deles() const { return deles_; }
  const std::vector<std::string>& Log() const { return log_; }
  int Commands() const { return commands_; }
  int Sessions() const { return sessions_; }
  bool SessionOpen() const { return open_; }
  std::set<std::string> Ids() const;

  std::unique_ptr<protocols::Socket> MakeSocket();

 private:
  class Socket;
  void open();
  void command(const std::string& line);
  void answer(const std::string& line);
  void reply(const std::string& text);
  void endSession();
  // The id the server gives the message at a mailbox index.
  std::string reportedId(std::size_t index) const;
  void sendUnsolicited(const std::string& command);
  // The message at a 1-based position of this session, or -1.
  int at(int position, bool includeMarked = false) const;
  bool waitReadable(int timeoutMs);
  std::size_t receive(char* buffer, std::size_t size);
  // The client's end is open and it has not yet read the end of the
  // connection.
  bool connected() const { return clientOpen_ && !endRead_; }

  FakeClock* clock_;
  bool open_ = false;          // a session of the server runs
  bool clientOpen_ = false;    // the client's end of the connection is open
  bool serverClosed_ = false;  // the server closed its end (QUIT, dropped)
  bool endRead_ = false;       // the client read the end of the connection
  bool waitedOnce_ = false;
  std::vector<std::size_t> snapshot_;  // mailbox indexes by position - 1
  std::vector<bool> marked_;
  std::deque<std::string> incoming_;  // the pieces the client has yet to read
  std::string pending_;
  std::vector<std::string> log_;
  std::vector<DeleAudit> deles_;
  int commands_ = 0;
  int sessions_ = 0;
};

// A mailbox of n messages; every third one is spam ("s<i>"), the others
// valid ("v<i>").
std::vector<MailboxMessage> MixedMailbox(int n);

}  // namespace kelvrin::test
