#pragma once

// TSmtpClient: delivers one composed TMailMessage over a blocking connection
// (RFC 5321; AUTH LOGIN and AUTH PLAIN of RFC 4954 / 4616; STARTTLS of RFC
// 3207). One mail transaction per recipient list (To, CC, BCC), RSET after
// each, so the connection can carry the next message.
//
// Unexpected reply codes never raise: they set Failed and make the operation
// return false. Misuse and transport failures raise SmtpError with a fixed
// text; socket errors run ReportFailure and then raise the SocketError.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "mail/mail_message.h"
#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "protocols/socket.h"

namespace kelvrin::protocols {

class SmtpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TSmtpClient {
 public:
  using TNotifyEvent = std::function<void(TSmtpClient& Sender)>;
  using TOnError =
      std::function<void(TSmtpClient& Sender, std::int32_t Error, const std::string& Msg)>;
  using TOnSendProgressEvent = std::function<void(TSmtpClient& Sender, std::uint16_t Percent)>;
  using TSocketNotifyEvent = std::function<void(TSmtpClient& Sender, protocols::Socket& Socket)>;
  using TToFromSocketEvent = std::function<void(TSmtpClient& Sender, const std::string& s)>;

  explicit TSmtpClient(SocketFactory factory = {});
  ~TSmtpClient();
  TSmtpClient(const TSmtpClient&) = delete;
  TSmtpClient& operator=(const TSmtpClient&) = delete;

  // Published properties.
  std::string Port = "25";  // text; not a number connects to 25
  std::string Host;
  std::string LocalDomainName;
  std::uint16_t SendProgressStep = 10;
  std::int32_t OperationTimeout = 30000;  // ms; 0 or less: reads block
  std::int32_t& TimeOut = OperationTimeout;
  std::string UserId;
  std::string UserPasswd;
  SecurityMode Security = SecurityMode::None;
  std::string CaFile;  // extra trusted certificates (PEM); empty: the system's store only

  // Filled at connection time; LocalHost is the HELO/EHLO argument.
  const std::string& LocalHost() const { return localHost_; }
  const std::string& LocalAddr() const { return localAddr_; }

  TNotifyEvent OnConnect;
  TNotifyEvent OnQuit;
  TOnError OnError;
  TNotifyEvent OnBeforeSend;
  TNotifyEvent OnAfterSend;
  TOnSendProgressEvent OnSendProgress;
  TSocketNotifyEvent OnLookup;
  TSocketNotifyEvent OnConnecting;
  TToFromSocketEvent OnSendTextToSocket;
  TToFromSocketEvent OnReceiveTextFromSocket;

  // State.
  bool Failed = false;
  std::string ReplyCode;
  std::string ReplyText;
  bool Authenticated = false;
  bool AuthLoginOffered = false;
  bool AuthPlainOffered = false;
  std::uint16_t Progress = 0;
  // Why the last Connect failed (an exception's text, a refused reply or
  // STARTTLS); empty after a successful one.
  std::string LastErrorText;

  protocols::Socket& Socket() { return *socket_; }
  void SetEventPump(EventPump& pump) { pump_ = &pump; }
  void SetClock(Clock& clock) { clock_ = &clock; }

  bool Connect();
  bool Login();
  bool SendMail(mail::TMailMessage& Msg);
  void Quit();
  bool Connected() const;

  // The building blocks of the operations.
  void SendText(const std::string& text);
  // One whole reply: every line up to the last one ("250 " rather than
  // "250-"); its code and text are those of the last line.
  std::string ReceiveText();
  // One transaction to recipients: 1 on success (also with no recipients),
  // -1 MAIL FROM, -2 RCPT TO, -3 DATA, -4 end of data, -5 RSET refused,
  // -6 a line could not be sent.
  int SendTransaction(const std::string& FromAddr, const mail::TStringList& Recipients,
                      const mail::TStringList& Lines);
  // One transaction that sends Bytes as the message data unchanged but for
  // the transparency dots and CR LF line ends SMTP requires; results as
  // SendTransaction. No RSET follows.
  int SendRawTransaction(const std::string& FromAddr, const mail::TStringList& Recipients,
                         std::string_view Bytes);
  // Failed, closed connection, OnError(ReplyCode as a number, ReplyText).
  void ReportFailure();

  static bool IsIPAddress(std::string_view text);
  // The bare address of an address text without "(...)" comments; between
  // "<" and ">" when both are there; with bracketed, inside "<" and ">".
  static std::string ExtractAddress(std::string_view text, bool bracketed);
  // The bare, lower-case addresses of a ","-separated address text.
  static mail::TStringList SplitAddresses(std::string_view text);
  static std::string RemoveChar(std::string_view text, char c);
  static std::string RemoveQuoted(std::string_view text, char quote);

 private:
  std::string readReply();
  bool expect(std::string_view code);
  // EHLO or HELO and its reply, which tells the offered mechanisms.
  bool greet(bool extended);
  void failConnect(const std::string& reason);
  int timeoutForBlockingCalls() const;

  std::unique_ptr<protocols::Socket> socket_;
  EventPump* pump_;
  Clock* clock_;
  std::string localHost_;
  std::string localAddr_;
};

}  // namespace kelvrin::protocols
