#include "pop3_session.h"

#include <chrono>

#include "demo_text.h"

namespace kelvrin::demo {

namespace {

// How long a login waits for a session that is closing to release the
// maildrop (its QUIT may still be on its way through the other thread).
constexpr std::chrono::milliseconds kLockWait{3000};

Reply ok(std::string text) {
  return Reply{(text.empty() ? "+OK" : "+OK " + text) + "\r\n", false};
}
Reply err(std::string text) {
  return Reply{"-ERR " + text + "\r\n", false};
}

}  // namespace

Pop3Session::Pop3Session(Maildir& maildir, const Account& account)
    : maildir_(maildir), account_(account) {}

Pop3Session::~Pop3Session() {
  if (holdsLock_) maildir_.unlockMaildrop();
}

std::string Pop3Session::greeting() const {
  return "+OK Kelvrin demo POP3 server ready\r\n";
}

Reply Pop3Session::lineTooLong() const {
  return err("line too long");
}

Reply Pop3Session::idleTimeout() const {
  return Reply{"-ERR autologout; idle for too long\r\n", true};
}

Reply Pop3Session::handle(std::string_view line) {
  const CommandLine cmd = splitCommand(line);
  if (cmd.verb == "QUIT") return quit();
  if (cmd.verb == "CAPA") {
    return Reply{
        "+OK Capability list follows\r\nUSER\r\nTOP\r\nUIDL\r\nPIPELINING\r\n"
        "IMPLEMENTATION Kelvrin-demo\r\n.\r\n",
        false};
  }
  if (state_ == State::Authorization) {
    // A password is everything after the one blank, blanks included.
    return authorization(cmd.verb, cmd.verb == "PASS" ? cmd.rawArgument : cmd.argument);
  }
  return transaction(cmd.verb, cmd.argument);
}

Reply Pop3Session::authorization(const std::string& verb, const std::string& argument) {
  if (verb == "USER") {
    if (argument.empty()) return err("USER needs a name");
    user_ = argument;
    userGiven_ = true;
    return ok("send your password");
  }
  if (verb == "PASS") {
    if (!userGiven_) return err("send USER first");
    userGiven_ = false;
    if (user_ != account_.user || argument != account_.password) {
      return err("invalid user name or password");
    }
    if (!maildir_.lockMaildrop(kLockWait)) return err("[IN-USE] maildrop already locked");
    holdsLock_ = true;
    messages_ = maildir_.scan();
    deleted_.assign(messages_.size(), false);
    state_ = State::Transaction;
    return ok("maildrop has " + std::to_string(liveCount()) + " messages (" +
              std::to_string(liveOctets()) + " octets)");
  }
  if (verb == "NOOP" || verb == "STAT" || verb == "LIST" || verb == "RETR" || verb == "DELE" ||
      verb == "RSET" || verb == "TOP" || verb == "UIDL" || verb == "LAST") {
    return err("log in first");
  }
  return err("unknown command");
}

std::uint64_t Pop3Session::liveCount() const {
  std::uint64_t n = 0;
  for (bool d : deleted_)
    n += d ? 0 : 1;
  return n;
}

std::uint64_t Pop3Session::liveOctets() const {
  std::uint64_t n = 0;
  for (std::size_t i = 0; i < messages_.size(); ++i)
    n += deleted_[i] ? 0 : messages_[i].size;
  return n;
}

const MessageInfo* Pop3Session::message(const std::string& argument, std::string& error) const {
  const auto n = parseNumber(argument);
  if (!n) {
    error = "message number expected";
    return nullptr;
  }
  if (*n == 0 || *n > messages_.size()) {
    error = "no such message";
    return nullptr;
  }
  if (deleted_[*n - 1]) {
    error = "message " + std::to_string(*n) + " already deleted";
    return nullptr;
  }
  return &messages_[*n - 1];
}

Reply Pop3Session::transaction(const std::string& verb, const std::string& argument) {
  std::string error;
  if (verb == "NOOP") return ok("");
  if (verb == "STAT") return ok(std::to_string(liveCount()) + " " + std::to_string(liveOctets()));
  if (verb == "LAST") return ok("0");
  if (verb == "RSET") {
    deleted_.assign(messages_.size(), false);
    return ok("maildrop has " + std::to_string(liveCount()) + " messages (" +
              std::to_string(liveOctets()) + " octets)");
  }
  if (verb == "USER" || verb == "PASS") return err("already logged in");
  if ((verb == "LIST" || verb == "UIDL") && argument.empty()) {
    std::string text = verb == "LIST" ? "+OK " + std::to_string(liveCount()) + " messages (" +
                                            std::to_string(liveOctets()) + " octets)\r\n"
                                      : "+OK unique-id listing follows\r\n";
    for (std::size_t i = 0; i < messages_.size(); ++i) {
      if (deleted_[i]) continue;
      text += std::to_string(i + 1) + " " +
              (verb == "LIST" ? std::to_string(messages_[i].size) : messages_[i].uid) + "\r\n";
    }
    text += ".\r\n";
    return Reply{std::move(text), false};
  }
  if (verb == "LIST" || verb == "UIDL" || verb == "RETR" || verb == "DELE") {
    const MessageInfo* m = message(argument, error);
    if (!m) return err(error);
    const std::size_t index = static_cast<std::size_t>(m - messages_.data());
    if (verb == "LIST") return ok(argument + " " + std::to_string(m->size));
    if (verb == "UIDL") return ok(argument + " " + m->uid);
    if (verb == "DELE") {
      deleted_[index] = true;
      return ok("message " + argument + " deleted");
    }
    const auto text = maildir_.wireText(m->fileName, std::nullopt);
    if (!text) return err("message " + argument + " cannot be read");
    return Reply{"+OK " + std::to_string(m->size) + " octets\r\n" + *text + ".\r\n", false};
  }
  if (verb == "TOP") {
    const std::size_t blank = argument.find(' ');
    const auto lines =
        blank == std::string::npos ? std::nullopt : parseNumber(argument.substr(blank + 1));
    if (!lines) return err("usage: TOP message lines");
    const MessageInfo* m = message(argument.substr(0, blank), error);
    if (!m) return err(error);
    const auto text = maildir_.wireText(m->fileName, lines);
    if (!text) return err("message cannot be read");
    return Reply{"+OK top of message follows\r\n" + *text + ".\r\n", false};
  }
  return err("unknown command");
}

Reply Pop3Session::quit() {
  if (state_ != State::Transaction)
    return Reply{"+OK Kelvrin demo POP3 server signing off\r\n", true};
  state_ = State::Update;
  std::size_t failed = 0;
  for (std::size_t i = 0; i < messages_.size(); ++i) {
    if (!deleted_[i]) continue;
    if (maildir_.remove(messages_[i].fileName)) {
      ++deletedAtQuit_;
    } else {
      ++failed;
    }
  }
  if (holdsLock_) {
    maildir_.unlockMaildrop();
    holdsLock_ = false;
  }
  if (failed > 0) return Reply{"-ERR some deleted messages not removed\r\n", true};
  return Reply{"+OK Kelvrin demo POP3 server signing off (" +
                   std::to_string(messages_.size() - deletedAtQuit_) + " messages left)\r\n",
               true};
}

}  // namespace kelvrin::demo
