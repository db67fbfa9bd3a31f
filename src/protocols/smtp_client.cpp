#include "protocols/smtp_client.h"

#include <arpa/inet.h>

#include <algorithm>

#include "base/rounding.h"
#include "mail/codecs.h"
#include "protocols/dot_stuffing.h"
#include "protocols/posix_socket.h"
#include "protocols/reply_wait.h"

namespace kelvrin::protocols {
namespace {

// Far beyond any real reply; a server that keeps sending continuation lines
// is not listened to for ever.
constexpr std::size_t kReplyLimit = 65536;

// The line of a reply that ends it: the first complete line whose fourth
// character is not "-" (RFC 5321 section 4.2.1). Empty when there is none
// yet.
std::string_view finalLine(std::string_view text) {
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n', start)) {
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 4 || line[3] != '-') return line;
    start = end + 1;
  }
  return {};
}

// The line whose code counts: the final line, or for a reply cut short the
// last line that arrived.
std::string_view codeLine(std::string_view text) {
  std::string_view line = finalLine(text);
  if (!line.empty()) return line;
  std::string_view rest = text;
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r'))
    rest.remove_suffix(1);
  const std::size_t lastBreak = rest.find_last_of('\n');
  return lastBreak == std::string_view::npos ? rest : rest.substr(lastBreak + 1);
}

bool isAddressLiteral(std::string_view text) {
  if (IsDottedIPv4(text)) return true;
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET6, std::string(text).c_str(), buffer) == 1;
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

TSmtpClient::TSmtpClient(SocketFactory factory)
    : socket_(factory ? factory() : PosixSocketFactory()()),
      pump_(&DefaultEventPump()),
      clock_(&DefaultClock()) {
  socket_->OnLookup = [this] {
    if (OnLookup) OnLookup(*this, *socket_);
  };
  socket_->OnConnecting = [this] {
    if (OnConnecting) OnConnecting(*this, *socket_);
  };
  socket_->OnConnected = [this] {
    if (OnConnect) OnConnect(*this);
  };
  socket_->OnDisconnected = [this] {
    if (OnQuit) OnQuit(*this);
  };
  socket_->OnError = [this](const SocketError&) { ReportFailure(); };
  // Name resolution, connect and handshake let events run as every wait
  // does.
  socket_->WhileWaiting = [this] {
    pump_->ProcessEvents();
    return true;
  };
}

TSmtpClient::~TSmtpClient() {
  socket_->OnLookup = nullptr;
  socket_->OnConnecting = nullptr;
  socket_->OnConnected = nullptr;
  socket_->OnDisconnected = nullptr;
  socket_->OnError = nullptr;
  socket_->WhileWaiting = nullptr;
}

bool TSmtpClient::Connected() const {
  return socket_->IsConnected();
}

int TSmtpClient::timeoutForBlockingCalls() const {
  return OperationTimeout > 0 ? OperationTimeout : 0;
}

void TSmtpClient::ReportFailure() {
  Failed = true;
  socket_->Close();
  if (OnError) {
    const std::string_view code = TrimBlanks(ReplyCode);
    std::int32_t number = 0;
    bool numeric = !code.empty() && code.size() <= 9;
    for (char c : code) {
      if (c < '0' || c > '9') numeric = false;
    }
    if (numeric) {
      for (char c : code)
        number = number * 10 + (c - '0');
    }
    OnError(*this, numeric ? number : 0, ReplyText);
  }
}

void TSmtpClient::SendText(const std::string& text) {
  if (!Connected()) throw SmtpError("Not connected. Attempting to send on socket.");
  if (!text.empty()) socket_->Send(text);
  if (OnSendTextToSocket) OnSendTextToSocket(*this, text);
}

std::string TSmtpClient::readReply() {
  std::string text;
  try {
    // The time-out covers the whole reply, however many pieces it comes in.
    const std::int64_t start = clock_->TickCount();
    for (;;) {
      std::string chunk;
      switch (ReadChunk(
          *socket_, [this] { return Connected(); }, *pump_, *clock_, OperationTimeout, start,
          chunk)) {
        case WaitOutcome::NotConnected:
          throw SmtpError("Receive Failed.  No Longer Connected.");
        case WaitOutcome::TimedOut:
          throw SmtpError("Receive Timeout.  No Data Available.");
        case WaitOutcome::Readable:
          break;
      }
      if (chunk.empty()) break;
      text += chunk;
      if (!finalLine(text).empty() || text.size() >= kReplyLimit) break;
    }
  } catch (...) {
    socket_->Close();
    throw;
  }
  return text;
}

std::string TSmtpClient::ReceiveText() {
  std::string text = readReply();
  // A connection closed before any reply leaves nothing to judge; the code of
  // the previous reply must not pass for this one.
  if (text.empty() && !socket_->IsConnected()) {
    throw SmtpError("Receive Failed.  No Longer Connected.");
  }
  if (text.size() > 4) {
    const std::string_view line = codeLine(text);
    ReplyCode = std::string(TrimBlanks(line.substr(0, 4)));
    ReplyText = line.size() > 4 ? std::string(TrimBlanks(line.substr(4))) : std::string();
    Failed = ReplyCode == "-ERR";
  }
  if (Connected() && OnReceiveTextFromSocket) OnReceiveTextFromSocket(*this, text);
  return text;
}

bool TSmtpClient::expect(std::string_view code) {
  if (!Failed) Failed = ReplyCode != code;
  return !Failed;
}

bool TSmtpClient::greet(bool extended) {
  SendText((extended ? "EHLO " : "HELO ") + localHost_ + "\r\n");
  const std::string text = readReply();
  if (!text.empty()) {
    ReplyText = text;
    ReplyCode = std::string(codeLine(text).substr(0, 3));
  }
  // A HELO greeting has no extensions, whatever its text says.
  AuthLoginOffered = extended && ReplyText.find("LOGIN") != std::string::npos;
  AuthPlainOffered = extended && ReplyText.find("PLAIN") != std::string::npos;
  return expect("250");
}

void TSmtpClient::failConnect(const std::string& reason) {
  LastErrorText = reason;
  Quit();
  // QUIT's own reply must not make the failure look like a success.
  Failed = true;
}

bool TSmtpClient::Connect() {
  LastErrorText.clear();
  PointSocketAt(*socket_, Host, Port, 25, Security, CaFile);
  Failed = false;
  try {
    socket_->Open(timeoutForBlockingCalls());
    if (!Connected()) {
      Failed = true;
      return false;
    }
    localHost_ = socket_->LocalHostName();
    localAddr_ = socket_->LocalAddress();
    ReceiveText();
    if (!expect("220")) {
      failConnect("The server did not greet: " + ReplyCode + " " + ReplyText);
      return Connected();
    }
    if (IsIPAddress(localHost_)) {
      localHost_ = "[" + localHost_ + "]";
    } else if (localHost_.find('.') == std::string::npos && !isAddressLiteral(Host)) {
      localHost_ += "." + (LocalDomainName.empty() ? Host : LocalDomainName);
    }
    const bool startTls = Security == SecurityMode::StartTls;
    // STARTTLS is an extension, so asking for it needs EHLO.
    const bool extended = startTls || !UserId.empty() || !UserPasswd.empty();
    if (!greet(extended)) {
      failConnect("The server refused " + std::string(extended ? "EHLO" : "HELO") + ": " +
                  ReplyCode);
      return Connected();
    }
    if (startTls) {
      SendText("STARTTLS\r\n");
      ReceiveText();
      if (!expect("220")) {
        // Never fall back to plain text: the password would travel in it.
        failConnect("The server refused STARTTLS: " + ReplyCode + " " + ReplyText);
        return false;
      }
      socket_->StartTls(timeoutForBlockingCalls());
      // What the server offered before TLS no longer counts (RFC 3207
      // section 4.2): ask again.
      if (!greet(true)) failConnect("The server refused EHLO after STARTTLS: " + ReplyCode);
    }
  } catch (const std::exception& error) {
    LastErrorText = error.what();
    try {
      Quit();
    } catch (...) {
      socket_->Close();
    }
    Failed = true;
  }
  return Connected();
}

bool TSmtpClient::Login() {
  Authenticated = false;
  if (!Connected()) throw SmtpError("Invalid Op. Not connected.");
  if (AuthLoginOffered) {
    SendText("AUTH LOGIN\r\n");
    ReceiveText();
    if (Failed) {
      ReportFailure();
      return false;
    }
    if (ReplyCode == "334") {
      SendText(mail::TBase64Codec::Encode(UserId) + "\r\n");
      ReceiveText();
      if (!expect("334")) {
        ReportFailure();
        return false;
      }
      SendText(mail::TBase64Codec::Encode(UserPasswd) + "\r\n");
      ReceiveText();
      if (expect("235")) Authenticated = true;
    }
  }
  if (!Authenticated && AuthPlainOffered) {
    std::string credentials;
    credentials += '\0';
    credentials += UserId;
    credentials += '\0';
    credentials += UserPasswd;
    SendText("AUTH PLAIN " + mail::TBase64Codec::Encode(credentials) + "\r\n");
    ReceiveText();
    if (expect("235")) Authenticated = true;
  }
  return Authenticated;
}

bool TSmtpClient::SendMail(mail::TMailMessage& Msg) {
  if (Msg.From().empty()) throw SmtpError("\"From\" field not specified.");
  if (Msg.SendTo().empty()) throw SmtpError("\"SendTo\" field not specified.");
  if (Msg.RawMail.empty()) Msg.Compose();
  if (OnBeforeSend) OnBeforeSend(*this);
  const std::string fromAddr = ExtractAddress(Msg.From(), false);
  const mail::TStringList lists[] = {SplitAddresses(Msg.SendTo()), SplitAddresses(Msg.CC()),
                                     SplitAddresses(Msg.BCC())};
  bool succeeded = true;
  for (const mail::TStringList& recipients : lists) {
    succeeded = SendTransaction(fromAddr, recipients, Msg.RawMail) > 0;
    if (!succeeded) break;
  }
  if (!succeeded) ReportFailure();
  if (Progress < 100 && OnSendProgress) OnSendProgress(*this, 100);
  if (OnAfterSend) OnAfterSend(*this);
  return succeeded;
}

int TSmtpClient::SendTransaction(const std::string& FromAddr, const mail::TStringList& Recipients,
                                 const mail::TStringList& Lines) {
  if (Recipients.empty()) return 1;
  SendText("MAIL FROM:<" + FromAddr + ">\r\n");
  ReceiveText();
  if (!expect("250")) return -1;
  for (const std::string& recipient : Recipients) {
    SendText("RCPT TO:<" + recipient + ">\r\n");
    ReceiveText();
    if (!expect("250")) return -2;
  }
  SendText("DATA\r\n");
  ReceiveText();
  if (!expect("354")) return -3;
  std::int64_t mark = SendProgressStep;
  const auto count = static_cast<std::int64_t>(Lines.size());
  for (std::int64_t i = 0; i < count; ++i) {
    try {
      SendText(Lines[static_cast<std::size_t>(i)] + "\r\n");
    } catch (...) {
      Failed = true;
      return -6;
    }
    Progress = ClampPercent(base::roundHalfEven((i + 1) * 100, count));
    if (Progress >= mark) {
      if (OnSendProgress) OnSendProgress(*this, Progress);
      mark += SendProgressStep;
    }
    clock_->Sleep(0);
  }
  SendText("\r\n.\r\n");
  ReceiveText();
  if (!expect("250")) return -4;
  SendText("RSET\r\n");
  ReceiveText();
  if (!expect("250")) return -5;
  if (OnSendProgress) OnSendProgress(*this, 100);
  return 1;
}

int TSmtpClient::SendRawTransaction(const std::string& FromAddr,
                                    const mail::TStringList& Recipients, std::string_view Bytes) {
  if (Recipients.empty()) return 1;
  SendText("MAIL FROM:<" + FromAddr + ">\r\n");
  ReceiveText();
  if (!expect("250")) return -1;
  for (const std::string& recipient : Recipients) {
    SendText("RCPT TO:<" + recipient + ">\r\n");
    ReceiveText();
    if (!expect("250")) return -2;
  }
  SendText("DATA\r\n");
  ReceiveText();
  if (!expect("354")) return -3;
  constexpr std::size_t kPiece = 64 * 1024;
  DotStuffer stuffer;
  std::string data;
  std::int64_t mark = SendProgressStep;
  const auto total = static_cast<std::int64_t>(Bytes.size());
  for (std::size_t at = 0; at < Bytes.size(); at += kPiece) {
    data.clear();
    stuffer.Feed(Bytes.substr(at, kPiece), data);
    try {
      SendText(data);
    } catch (...) {
      Failed = true;
      return -6;
    }
    const auto sent = static_cast<std::int64_t>(std::min(Bytes.size(), at + kPiece));
    Progress = ClampPercent(base::roundHalfEven(sent * 100, total));
    if (Progress >= mark) {
      if (OnSendProgress) OnSendProgress(*this, Progress);
      mark += SendProgressStep;
    }
    clock_->Sleep(0);
  }
  data.clear();
  stuffer.Finish(data);
  SendText(data);
  ReceiveText();
  if (!expect("250")) return -4;
  if (OnSendProgress) OnSendProgress(*this, 100);
  return 1;
}

void TSmtpClient::Quit() {
  if (Connected()) {
    try {
      SendText("QUIT\r\n");
      ReceiveText();
    } catch (...) {
      socket_->Close();
      throw;
    }
  }
  socket_->Close();
}

bool TSmtpClient::IsIPAddress(std::string_view text) {
  return IsDottedIPv4(text);
}

std::string TSmtpClient::ExtractAddress(std::string_view text, bool bracketed) {
  std::string result(text);
  // Each "(" takes the next ")" after it; a ")" without a "(" before it is
  // ordinary text.
  for (std::size_t open = result.find('('); open != std::string::npos; open = result.find('(')) {
    const std::size_t close = result.find(')', open + 1);
    if (close == std::string::npos) break;
    result.erase(open, close - open + 1);
  }
  result = std::string(TrimBlanks(result));
  const std::size_t open = result.find('<');
  const std::size_t close = result.find('>');
  if (open != std::string::npos && close != std::string::npos) {
    result = close > open ? result.substr(open + 1, close - open - 1) : std::string();
  }
  return bracketed ? "<" + result + ">" : result;
}

mail::TStringList TSmtpClient::SplitAddresses(std::string_view text) {
  mail::TStringList result;
  std::string rest = RemoveChar(text, ' ');
  if (rest.empty()) return result;
  rest = lowerAscii(RemoveQuoted(rest, '"'));
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = rest.find(',', start);
    std::string address = ExtractAddress(
        std::string_view(rest).substr(start, comma == std::string::npos ? comma : comma - start),
        false);
    // "a@x,,b@y" has no third recipient: an empty RCPT TO would only fail.
    if (!address.empty()) result.push_back(std::move(address));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return result;
}

std::string TSmtpClient::RemoveChar(std::string_view text, char c) {
  std::string result;
  result.reserve(text.size());
  for (char ch : text) {
    if (ch != c) result += ch;
  }
  return result;
}

std::string TSmtpClient::RemoveQuoted(std::string_view text, char quote) {
  std::string result(TrimBlanks(text));
  for (std::size_t first = result.find(quote); first != std::string::npos;
       first = result.find(quote)) {
    const std::size_t second = result.find(quote, first + 1);
    if (second == std::string::npos) break;
    result.erase(first, second - first + 1);
  }
  return result;
}

}  // namespace kelvrin::protocols
