#include "smtp_session.h"

#include <stdexcept>

#include "demo_text.h"

namespace kelvrin::demo {

namespace {

constexpr std::size_t kMaxCommandLine = 2048;
constexpr std::size_t kMaxDataLine = 64 * 1024;
constexpr std::size_t kMaxMessage = 32 * 1024 * 1024;
constexpr std::size_t kMaxRecipients = 100;

Reply reply(std::string text) {
  return Reply{std::move(text) + "\r\n", false};
}

// The address between "<" and ">" after a "FROM:" / "TO:" keyword; empty
// optional when the syntax is wrong. Parameters after ">" are ignored.
std::optional<std::string> pathArgument(std::string_view argument, std::string_view keyword) {
  if (!startsWithIgnoringCase(argument, keyword)) return std::nullopt;
  argument.remove_prefix(keyword.size());
  while (!argument.empty() && argument.front() == ' ')
    argument.remove_prefix(1);
  if (argument.empty() || argument.front() != '<') return std::nullopt;
  const std::size_t close = argument.find('>');
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(argument.substr(1, close - 1));
}

}  // namespace

SmtpSession::SmtpSession(Maildir& maildir, const Account& account)
    : maildir_(maildir), account_(account) {}

std::string SmtpSession::greeting() const {
  return "220 localhost Kelvrin demo SMTP server ready\r\n";
}

Reply SmtpSession::idleTimeout() const {
  return Reply{"421 4.4.2 localhost idle for too long, closing connection\r\n", true};
}

std::size_t SmtpSession::maxLineLength() const {
  return mode_ == Mode::Data ? kMaxDataLine : kMaxCommandLine;
}

Reply SmtpSession::lineTooLong() {
  if (mode_ == Mode::Data) {
    dataTooBig_ = true;  // answered when the data ends
    return Reply{};
  }
  mode_ = Mode::Command;
  return reply("500 5.5.2 Line too long");
}

void SmtpSession::resetTransaction() {
  sender_.clear();
  haveSender_ = false;
  recipients_.clear();
  data_.clear();
  dataTooBig_ = false;
}

Reply SmtpSession::handle(std::string_view line) {
  switch (mode_) {
    case Mode::Data:
      return dataLine(line);
    case Mode::AuthPlain:
      mode_ = Mode::Command;
      if (line == "*") return reply("501 5.0.0 Authentication cancelled");
      return authPlain(line);
    case Mode::AuthLoginUser: {
      if (line == "*") {
        mode_ = Mode::Command;
        return reply("501 5.0.0 Authentication cancelled");
      }
      const auto user = base64Decode(line);
      if (!user) {
        mode_ = Mode::Command;
        return reply("501 5.5.2 Cannot decode response");
      }
      loginUser_ = *user;
      mode_ = Mode::AuthLoginPassword;
      return reply("334 UGFzc3dvcmQ6");  // "Password:"
    }
    case Mode::AuthLoginPassword: {
      mode_ = Mode::Command;
      if (line == "*") return reply("501 5.0.0 Authentication cancelled");
      const auto password = base64Decode(line);
      if (!password) return reply("501 5.5.2 Cannot decode response");
      return checkLogin(loginUser_, *password);
    }
    case Mode::Command:
      break;
  }
  return command(line);
}

Reply SmtpSession::checkLogin(const std::string& user, const std::string& password) {
  if (user != account_.user || password != account_.password) {
    return reply("535 5.7.8 Authentication credentials invalid");
  }
  authenticated_ = true;
  return reply("235 2.7.0 Authentication successful");
}

Reply SmtpSession::authPlain(std::string_view response) {
  const auto decoded = base64Decode(response);
  if (!decoded) return reply("501 5.5.2 Cannot decode response");
  // authorisation identity NUL user NUL password (RFC 4616)
  const std::size_t first = decoded->find('\0');
  const std::size_t second =
      first == std::string::npos ? std::string::npos : decoded->find('\0', first + 1);
  if (second == std::string::npos) return reply("501 5.5.2 Malformed PLAIN response");
  const std::string authzid = decoded->substr(0, first);
  const std::string user = decoded->substr(first + 1, second - first - 1);
  if (!authzid.empty() && authzid != user) {
    return reply("535 5.7.8 Authentication credentials invalid");
  }
  return checkLogin(user, decoded->substr(second + 1));
}

Reply SmtpSession::command(std::string_view line) {
  const CommandLine cmd = splitCommand(line);
  const std::string& verb = cmd.verb;
  if (verb == "QUIT") return Reply{"221 2.0.0 Bye\r\n", true};
  if (verb == "NOOP") return reply("250 2.0.0 OK");
  if (verb == "RSET") {
    resetTransaction();
    return reply("250 2.0.0 OK");
  }
  if (verb == "EHLO" || verb == "HELO") {
    if (cmd.argument.empty()) return reply("501 5.5.4 " + verb + " needs a domain");
    resetTransaction();
    greeted_ = true;
    extended_ = verb == "EHLO";
    if (!extended_) return reply("250 localhost");
    // One write: a client may read the whole reply in one piece.
    return Reply{"250-localhost greets " + cmd.argument +
                     "\r\n250-AUTH PLAIN LOGIN\r\n250-8BITMIME\r\n250-SIZE " +
                     std::to_string(kMaxMessage) + "\r\n250 HELP\r\n",
                 false};
  }
  if (verb == "HELP") return reply("214 2.0.0 See RFC 5321");
  if (verb == "VRFY") return reply("252 2.5.2 Cannot verify the user, but will accept mail");
  if (verb == "AUTH") {
    if (!greeted_ || !extended_) return reply("503 5.5.1 Send EHLO first");
    if (authenticated_) return reply("503 5.5.1 Already authenticated");
    if (haveSender_) return reply("503 5.5.1 Not inside a mail transaction");
    const CommandLine mechanism = splitCommand(cmd.argument);
    if (mechanism.verb == "PLAIN") {
      if (mechanism.argument.empty()) {
        mode_ = Mode::AuthPlain;
        return reply("334 ");
      }
      return authPlain(mechanism.argument);
    }
    if (mechanism.verb == "LOGIN") {
      if (mechanism.argument.empty()) {
        mode_ = Mode::AuthLoginUser;
        return reply("334 VXNlcm5hbWU6");  // "Username:"
      }
      const auto user = base64Decode(mechanism.argument);
      if (!user) return reply("501 5.5.2 Cannot decode response");
      loginUser_ = *user;
      mode_ = Mode::AuthLoginPassword;
      return reply("334 UGFzc3dvcmQ6");
    }
    return reply("504 5.5.4 Unrecognized authentication type");
  }
  if (verb == "MAIL") {
    if (!greeted_) return reply("503 5.5.1 Send EHLO or HELO first");
    if (!authenticated_) return reply("530 5.7.0 Authentication required");
    if (haveSender_) return reply("503 5.5.1 Nested MAIL command");
    const auto path = pathArgument(cmd.argument, "FROM:");
    if (!path) return reply("501 5.5.4 Syntax: MAIL FROM:<address>");
    sender_ = *path;
    haveSender_ = true;
    return reply("250 2.1.0 OK");
  }
  if (verb == "RCPT") {
    if (!haveSender_) return reply("503 5.5.1 Need MAIL command");
    const auto path = pathArgument(cmd.argument, "TO:");
    if (!path || path->empty()) return reply("501 5.5.4 Syntax: RCPT TO:<address>");
    if (recipients_.size() >= kMaxRecipients) return reply("452 4.5.3 Too many recipients");
    recipients_.push_back(*path);
    return reply("250 2.1.5 OK");
  }
  if (verb == "DATA") {
    if (!haveSender_) return reply("503 5.5.1 Need MAIL command");
    if (recipients_.empty()) return reply("503 5.5.1 Need RCPT command");
    mode_ = Mode::Data;
    data_ = "Return-Path: <" + sender_ + ">\r\n";
    return reply("354 End data with <CR><LF>.<CR><LF>");
  }
  return reply("502 5.5.2 Command not recognized");
}

Reply SmtpSession::dataLine(std::string_view line) {
  if (line == ".") {
    mode_ = Mode::Command;
    if (dataTooBig_) {
      resetTransaction();
      return reply("552 5.3.4 Message too big or a line too long");
    }
    std::string text = std::move(data_);
    resetTransaction();
    try {
      lastStored_ = maildir_.store(text);
    } catch (const std::runtime_error&) {
      return reply("451 4.3.0 Cannot store the message");
    }
    return reply("250 2.0.0 OK queued as " + lastStored_);
  }
  if (dataTooBig_) return Reply{};
  if (!line.empty() && line.front() == '.') line.remove_prefix(1);  // RFC 5321 4.5.2
  if (data_.size() + line.size() + 2 > kMaxMessage) {
    dataTooBig_ = true;
    data_.clear();
    return Reply{};
  }
  data_.append(line);
  data_.append("\r\n");
  return Reply{};
}

}  // namespace kelvrin::demo
