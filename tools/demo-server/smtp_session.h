#pragma once

// One SMTP session (RFC 5321, AUTH PLAIN and LOGIN of RFC 4954) of the demo
// server, independent of the socket. Mail is accepted only after
// authentication and stored in the maildir, one file per DATA.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "account.h"
#include "maildir.h"

namespace kelvrin::demo {

class SmtpSession {
 public:
  SmtpSession(Maildir& maildir, const Account& account);

  std::string greeting() const;
  Reply handle(std::string_view line);
  Reply lineTooLong();
  Reply idleTimeout() const;

  // Longest line accepted in the current state (data lines may be longer
  // than command lines).
  std::size_t maxLineLength() const;
  bool authenticated() const { return authenticated_; }
  const std::string& lastStored() const { return lastStored_; }

 private:
  enum class Mode { Command, AuthPlain, AuthLoginUser, AuthLoginPassword, Data };

  Reply command(std::string_view line);
  Reply dataLine(std::string_view line);
  Reply authPlain(std::string_view response);
  Reply checkLogin(const std::string& user, const std::string& password);
  void resetTransaction();

  Maildir& maildir_;
  const Account& account_;
  Mode mode_ = Mode::Command;
  bool greeted_ = false;
  bool extended_ = false;  // EHLO (not HELO)
  bool authenticated_ = false;
  std::string loginUser_;
  std::string sender_;
  bool haveSender_ = false;
  std::vector<std::string> recipients_;
  std::string data_;
  bool dataTooBig_ = false;
  std::string lastStored_;
};

}  // namespace kelvrin::demo
