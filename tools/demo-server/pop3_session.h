#pragma once

// One POP3 session (RFC 1939) of the demo server, independent of the socket:
// it takes command lines and returns the replies.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "account.h"
#include "maildir.h"

namespace kelvrin::demo {

class Pop3Session {
 public:
  Pop3Session(Maildir& maildir, const Account& account);
  ~Pop3Session();
  Pop3Session(const Pop3Session&) = delete;
  Pop3Session& operator=(const Pop3Session&) = delete;

  std::string greeting() const;
  Reply handle(std::string_view line);
  Reply lineTooLong() const;
  Reply idleTimeout() const;

  bool loggedIn() const { return state_ == State::Transaction; }
  // Deletions applied by the last QUIT.
  std::size_t deletedAtQuit() const { return deletedAtQuit_; }

 private:
  enum class State { Authorization, Transaction, Update };

  Reply authorization(const std::string& verb, const std::string& argument);
  Reply transaction(const std::string& verb, const std::string& argument);
  Reply quit();
  // The message of a number argument, or an error text.
  const MessageInfo* message(const std::string& argument, std::string& error) const;
  std::uint64_t liveCount() const;
  std::uint64_t liveOctets() const;

  Maildir& maildir_;
  const Account& account_;
  State state_ = State::Authorization;
  bool holdsLock_ = false;
  std::string user_;
  bool userGiven_ = false;
  std::vector<MessageInfo> messages_;
  std::vector<bool> deleted_;
  std::size_t deletedAtQuit_ = 0;
};

}  // namespace kelvrin::demo
