#include "protocols/pop3_client.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/rounding.h"
#include "mail/temp_file.h"
#include "protocols/dot_stuffing.h"
#include "protocols/posix_socket.h"
#include "protocols/reply_wait.h"
#include "protocols/spool_file.h"

namespace kelvrin::protocols {
namespace {

// A status line is at most 512 octets (RFC 1939 section 3); a server that
// sends far more without a line end is not waited for any longer.
constexpr std::size_t kStatusLineLimit = 65536;
constexpr std::string_view kTerminator = "\r\n.\r\n";
constexpr std::size_t kSpoolNamePartLimit = 80;

std::string tailOf(std::string_view text, std::size_t count) {
  return std::string(text.substr(text.size() > count ? text.size() - count : 0));
}

// A user id or host as part of the spool file name: nothing in it may leave
// the temporary directory or end the name early.
std::string namePart(std::string_view text) {
  std::string part(TrimBlanks(text).substr(0, kSpoolNamePartLimit));
  for (char& c : part) {
    if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 32) c = '-';
  }
  return part;
}

// The lines of a spooled reply: CR LF, LF or CR end a line; a line break at
// the very end does not start another line.
mail::TStringList splitLines(std::string_view text) {
  mail::TStringList lines;
  std::size_t start = 0;
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size; ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (c == '\r' && i + 1 < size && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < size) lines.emplace_back(text.substr(start));
  return lines;
}

std::string afterFirstBlank(const std::string& text) {
  const std::size_t blank = text.find(' ');
  return blank == std::string::npos ? text : text.substr(blank + 1);
}

}  // namespace

TPop3Client::TPop3Client(SocketFactory factory)
    : socket_(factory ? factory() : PosixSocketFactory()()),
      pump_(&DefaultEventPump()),
      clock_(&DefaultClock()) {
  socket_->OnConnected = [this] {
    if (OnConnect) OnConnect(*this);
  };
  socket_->OnDisconnected = [this] {
    if (OnDisconnect) OnDisconnect(*this);
  };
  socket_->OnError = [this](const SocketError& error) { socketError(error); };
}

TPop3Client::~TPop3Client() {
  // No events into an owner that is being torn down.
  socket_->OnConnected = nullptr;
  socket_->OnDisconnected = nullptr;
  socket_->OnError = nullptr;
}

bool TPop3Client::Connected() const {
  if (!socket_->IsConnected()) return false;
  const std::string peer = socket_->PeerAddress();
  return !peer.empty() && peer != "0.0.0.0";
}

int TPop3Client::timeoutForBlockingCalls() const {
  return OperationTimeout > 0 ? OperationTimeout : 0;
}

void TPop3Client::closeSocket() {
  socket_->Close();
}

void TPop3Client::socketError(const SocketError& error) {
  // The QUIT sent while reporting an error may fail in turn; that failure is
  // not reported again, the first error goes on.
  if (inSocketError_) return;
  inSocketError_ = true;
  Failed = true;
  try {
    endAfterFailure();
  } catch (...) {
    closeSocket();
  }
  inSocketError_ = false;
  if (OnError) OnError(*this, error.Code(), ReplyText);
}

void TPop3Client::RaiseError(std::int32_t code) {
  Failed = true;
  endAfterFailure();
  if (OnError) OnError(*this, code, ReplyText);
}

void TPop3Client::endAfterFailure() {
  // The user cancelled: QUIT would make the DELEs of this session final
  // (RFC 1939 section 6), a connection closed without it never does.
  if (Aborted) {
    DeletedNumbers.clear();
    closeSocket();
    return;
  }
  Quit();
}

void TPop3Client::requireConnected(std::string_view suffix) const {
  if (!Connected()) throw Pop3Error("Not connected." + std::string(suffix));
}

void TPop3Client::SendText(const std::string& command) {
  std::string line = command + "\r\n";
  if (!Connected()) throw Pop3Error("Not connected. Attempting to send " + line + ".");
  socket_->Send(line);
}

std::string TPop3Client::readOnce(std::int64_t startTick) {
  std::string chunk;
  switch (ReadChunk(
      *socket_, [this] { return Connected(); }, *pump_, *clock_, OperationTimeout, startTick,
      chunk)) {
    case WaitOutcome::NotConnected:
      throw Pop3Error("Receive Failed.  No Longer Connected.");
    case WaitOutcome::TimedOut:
      throw Pop3Error("Receive Timeout.  No Data Available.");
    case WaitOutcome::Readable:
      break;
  }
  return chunk;
}

void TPop3Client::interpretStatus(std::string_view chunk) {
  if (chunk.size() <= 4) return;
  ReplyStatus = std::string(TrimBlanks(chunk.substr(0, 4)));
  const std::size_t lineEnd = chunk.find("\r\n");
  if (lineEnd == std::string_view::npos) {
    ReplyText = std::string(TrimBlanks(chunk.substr(4)));
  } else if (lineEnd <= 4) {
    ReplyText.clear();
  } else {
    ReplyText = std::string(TrimBlanks(chunk.substr(4, lineEnd - 4)));
  }
  Failed = ReplyStatus == "-ERR";
}

std::string TPop3Client::ReceiveText() {
  std::string text;
  try {
    // The status line may arrive in pieces; it is only judged when whole,
    // and the time-out covers the whole line.
    const std::int64_t start = clock_->TickCount();
    for (;;) {
      std::string chunk = readOnce(start);
      if (chunk.empty()) {
        // The server closed the connection. With nothing received there is
        // no reply to judge: the status of the previous command must not
        // pass for this one (a dropped DELE is not an accepted one).
        if (text.empty()) throw Pop3Error("Receive Failed.  No Longer Connected.");
        break;
      }
      const std::size_t searchFrom = text.empty() ? 0 : text.size() - 1;
      text += chunk;
      if (text.find("\r\n", searchFrom) != std::string::npos) break;
      if (text.size() >= kStatusLineLimit) break;
    }
    interpretStatus(text);
  } catch (...) {
    closeSocket();
    throw;
  }
  return text;
}

std::string TPop3Client::ReceiveChunk() {
  try {
    return readOnce(clock_->TickCount());
  } catch (...) {
    closeSocket();
    throw;
  }
}

void TPop3Client::collectUntilTerminator(std::string& text, bool keep) {
  std::string tail = tailOf(text, 4);
  while (text.find(kTerminator) == std::string::npos) {
    std::string chunk = ReceiveChunk();
    if (chunk.empty()) break;
    std::string probe = tail + chunk;
    tail = tailOf(probe, 4);
    if (keep) {
      text += chunk;
    } else {
      text = std::move(probe);
    }
  }
}

bool TPop3Client::Connect() {
  DeletedNumbers.clear();
  MessageCount = 0;
  LastErrorText.clear();
  PointSocketAt(*socket_, Host, Port, 110, Security, CaFile);
  Failed = false;
  ReplyLeftUnread = false;
  try {
    socket_->Open(timeoutForBlockingCalls());
    if (socket_->IsConnected()) {
      ReceiveText();
      if (Security == SecurityMode::StartTls) {
        SendText("STLS");
        ReceiveText();
        if (ReplyStatus != "+OK") {
          // Never fall back to plain text: the password would travel in it.
          LastErrorText = "The server refused STLS: " + ReplyText;
          RaiseError(kPop3StlsRefused);
          return false;
        }
        socket_->StartTls(timeoutForBlockingCalls());
      }
      Aborted = false;
    } else {
      Failed = true;
    }
  } catch (const std::exception& error) {
    Failed = true;
    LastErrorText = error.what();
    try {
      Quit();
    } catch (...) {
      closeSocket();
    }
  }
  return Connected();
}

bool TPop3Client::Login() {
  if (!Connected()) throw Pop3Error("Invalid Op. Not connected attempting to login.");
  SendText("USER " + UserId);
  ReceiveText();
  if (ReplyStatus != "-ERR") {
    SendText("PASS " + UserPasswd);
    ReceiveText();
    if (ReplyStatus != "-ERR") return true;
  }
  RaiseError(kPop3LoginRefused);
  return false;
}

void TPop3Client::GetStat() {
  requireConnected(" Attempting to get STAT");
  SendText("STAT");
  ReceiveText();
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3StatRefused);
    return;
  }
  // Message numbers are 16-bit: a larger mailbox is worked from its first
  // 65535 messages rather than with wrapped numbers.
  MessageCount = static_cast<std::uint16_t>(std::clamp<std::int32_t>(
      ParseReplyNumber(ReplyText, 1, 0), 0, std::numeric_limits<std::uint16_t>::max()));
  SendText("LAST");
  ReceiveText();
  Failed = false;
  UIDLSupported = true;
  try {
    SendText("UIDL");
    std::string text = ReceiveText();
    if (ReplyStatus == "-ERR") {
      UIDLSupported = false;
    } else {
      collectUntilTerminator(text, false);
    }
  } catch (...) {
    UIDLSupported = false;
  }
  Failed = false;
}

std::int32_t TPop3Client::GetMessageSize(std::uint16_t MsgIndex) {
  requireConnected(" Attempting to get message size.");
  SendText("LIST " + std::to_string(MsgIndex));
  ReceiveText();
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3ResetRefused);
    return 0;
  }
  return ParseReplyNumber(ReplyText, 2, 100);
}

bool TPop3Client::RetrieveHeader(std::uint16_t MsgIndex, mail::TMailMessage& Msg) {
  requireConnected(" Attempting to receive a message. (" + std::to_string(MsgIndex) + ")");
  return RetrieveMessage(MsgIndex, true, Msg);
}

bool TPop3Client::Retrieve(std::uint16_t MsgIndex, mail::TMailMessage& Msg) {
  requireConnected(" Attempting to receive a message. (" + std::to_string(MsgIndex) + ")");
  return RetrieveMessage(MsgIndex, false, Msg);
}

std::string TPop3Client::SpoolFilePrefix(std::uint16_t MsgIndex, std::string_view UserId,
                                         std::string_view Host) {
  return "msg-" + std::to_string(MsgIndex) + "-" + namePart(UserId) + "@" + namePart(Host);
}

bool TPop3Client::RetrieveMessage(std::uint16_t MsgIndex, bool HeaderOnly,
                                  mail::TMailMessage& Msg) {
  const std::string n = std::to_string(MsgIndex);
  // Removed on every way out, the file with it when the reply needed one.
  SpoolFile spool(SpoolFilePrefix(MsgIndex, UserId, Host));
  auto spoolWrite = [this, &spool](const std::string& bytes) {
    const SpoolFile::WriteResult result = spool.Write(bytes);
    if (result == SpoolFile::WriteResult::Written) return;
    // The rest of the reply is still on its way and would be taken for the
    // answers to the next commands: the session cannot go on.
    closeSocket();
    if (result == SpoolFile::WriteResult::CannotCreate) {
      throw Pop3Error("Cannot create a temporary file in " + mail::TempDirectory() + ".");
    }
    throw Pop3Error("Cannot write the temporary file " + spool.Path() + ".");
  };
  const std::int32_t size = GetMessageSize(MsgIndex);
  SendText(HeaderOnly ? "TOP " + n + " 0" : "RETR " + n);
  std::string chunk = ReceiveText();
  if (Failed) return false;

  nextThreshold_ = RetrieveProgressStep;
  lastPercent_ = 0;
  spoolWrite(chunk);
  bool complete = chunk.find(kTerminator) != std::string::npos;
  std::string tail = tailOf(chunk, 4);
  while (!complete) {
    if (Aborted) {
      ReplyLeftUnread = true;
      return false;
    }
    chunk = ReceiveChunk();
    if (chunk.empty()) break;
    // The terminator may be split between two chunks (RFC 1939 section 3):
    // look for it across the boundary.
    std::string probe = tail + chunk;
    complete = probe.find(kTerminator) != std::string::npos;
    tail = tailOf(probe, 4);
    spoolWrite(chunk);
    // A size of 0 or less (a LIST that gave nonsense) cannot be divided by.
    const auto spooled = static_cast<std::int64_t>(spool.Size());
    lastPercent_ = size > 0 ? ClampPercent(base::roundHalfEven(spooled * 100, size)) : 100;
    if (lastPercent_ >= nextThreshold_) {
      if (OnRetrieveProgress) OnRetrieveProgress(*this, lastPercent_);
      nextThreshold_ = ClampPercent(std::int64_t{nextThreshold_} + RetrieveProgressStep);
    }
  }
  if (lastPercent_ < 100 && OnRetrieveProgress) OnRetrieveProgress(*this, 100);

  std::optional<std::string> spooledText = spool.ReadAll();
  if (!spooledText) throw Pop3Error("Cannot read the temporary file " + spool.Path() + ".");
  spool.Remove();
  mail::TStringList lines = splitLines(*spooledText);
  spooledText.reset();
  if (!lines.empty()) lines.erase(lines.begin());  // the status line
  if (!lines.empty()) lines.pop_back();            // the terminating "."
  // Undo the dot-stuffing of RFC 1939 section 3.
  for (std::string& line : lines) {
    if (line.size() > 1 && line[0] == '.') line.erase(0, 1);
  }
  Msg.LoadRawMail(std::move(lines));
  Msg.Size = HeaderOnly ? size
                        : static_cast<std::int32_t>(std::min<std::int64_t>(
                              Msg.RawMailSize(), std::numeric_limits<std::int32_t>::max()));
  if (Failed) RaiseError(kPop3RetrieveFailed);
  if (GetUIDLsOnRetrieve) Msg.UIDL = GetUIDL(MsgIndex);
  if (OnAfterRetrieve) OnAfterRetrieve(*this);
  return true;
}

int TPop3Client::RetrieveAllHeaders(mail::TMailMessageList& List) {
  return RetrieveAll(List, true);
}

int TPop3Client::RetrieveAll(mail::TMailMessageList& List, bool HeadersOnly) {
  List.Clear();
  messages_.ReleaseUnlisted();
  int added = 0;
  // MessageCount went down with every deletion of this connection, but the
  // server keeps the numbers of the messages after a deleted one: count to
  // the last number the server knows.
  const int count = std::min<int>(MessageCount + static_cast<int>(DeletedNumbers.size()),
                                  std::numeric_limits<std::uint16_t>::max());
  for (int number = 1; number <= count; ++number) {
    const std::string text = std::to_string(number);
    if (std::find(DeletedNumbers.begin(), DeletedNumbers.end(), text) != DeletedNumbers.end()) {
      continue;
    }
    mail::TMailMessage& message = messages_.CreateMessage();
    const auto index = static_cast<std::uint16_t>(number);
    if (HeadersOnly) {
      RetrieveHeader(index, message);
    } else {
      Retrieve(index, message);
    }
    if (Aborted) {
      messages_.DestroyMessage(message);
      break;
    }
    List.Add(message);
    ++added;
  }
  return added;
}

bool TPop3Client::RetrieveRaw(std::uint16_t MsgIndex,
                              const std::function<void(std::string_view)>& Sink) {
  const std::string n = std::to_string(MsgIndex);
  requireConnected(" Attempting to receive a message. (" + n + ")");
  SendText("RETR " + n);
  std::string chunk = ReceiveText();
  if (Failed) return false;
  DotUnstuffer unstuffer;
  std::string bytes;
  try {
    for (;;) {
      bytes.clear();
      const bool complete = unstuffer.Feed(chunk, bytes);
      if (!bytes.empty()) Sink(bytes);
      if (complete) return true;
      if (Aborted) {
        ReplyLeftUnread = true;
        return false;
      }
      chunk = ReceiveChunk();
      if (chunk.empty()) throw Pop3Error("Receive Failed.  No Longer Connected.");
    }
  } catch (...) {
    // Half a message: whatever the rest of the reply is, it cannot be told
    // from the answers to the next commands.
    closeSocket();
    throw;
  }
}

std::string TPop3Client::GetUIDL(std::uint16_t MsgIndex) {
  if (!UIDLSupported) return {};
  requireConnected(" Attempting to get UIDL. " + std::to_string(MsgIndex) + ")");
  SendText("UIDL " + std::to_string(MsgIndex));
  ReceiveText();
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3StatRefused);
    return {};
  }
  return afterFirstBlank(ReplyText);
}

std::int32_t TPop3Client::GetUIDLList(mail::TStringList& List) {
  if (!UIDLSupported) return -1;
  requireConnected(" Attempting to get UIDL list.");
  SendText("UIDL");
  std::string text = ReceiveText();
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3StatRefused);
    return -1;
  }
  collectUntilTerminator(text, true);
  const std::size_t end = text.find(kTerminator);
  if (end != std::string::npos) text.erase(end, kTerminator.size());
  List.clear();
  for (std::string& line : splitLines(text)) {
    if (!line.empty() && line[0] == '+') continue;
    List.push_back(afterFirstBlank(line));
  }
  return static_cast<std::int32_t>(List.size());
}

void TPop3Client::DeleteMessage(std::uint16_t MsgIndex) {
  requireConnected(" Attempting to delete a message. (" + std::to_string(MsgIndex) + ")");
  if (Aborted) return;
  SendText("DELE " + std::to_string(MsgIndex));
  ReceiveText();
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3DeleteRefused);
    return;
  }
  DeletedNumbers.push_back(std::to_string(MsgIndex));
  if (MessageCount > 0) --MessageCount;
}

void TPop3Client::Reset() {
  requireConnected(" Attempting to reset server state.");
  SendText("RSET");
  ReceiveText();
  if (ReplyStatus == "-ERR") RaiseError(kPop3ResetRefused);
}

void TPop3Client::Noop() {
  requireConnected(" Sending NOOP.");
  SendText("NOOP");
  ReceiveText();
}

bool TPop3Client::Quit() {
  if (!Connected()) return true;
  std::exception_ptr sendFailure;
  try {
    SendText("QUIT");
  } catch (...) {
    sendFailure = std::current_exception();
  }
  DeletedNumbers.clear();
  if (socket_->IsConnected() || sendFailure) {
    try {
      socket_->Close();
    } catch (...) {
      throw Pop3Error("Error closing socket.");
    }
  }
  if (sendFailure) std::rethrow_exception(sendFailure);
  return true;
}

std::int32_t TPop3Client::ParseReplyNumber(std::string_view reply, int position,
                                           std::int32_t fallback) {
  std::string text(TrimBlanks(reply));
  if (text.empty()) return fallback;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.replace(at, 2, " ");
  }
  std::string_view rest = text;
  for (int word = 1; word < position; ++word) {
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return fallback;
    rest.remove_prefix(blank + 1);
    while (!rest.empty() && rest.front() == ' ')
      rest.remove_prefix(1);
  }
  rest = rest.substr(0, rest.find(' '));
  std::string digits;
  for (char c : rest) {
    if (c != '(' && c != ')' && c != '{' && c != '}') digits += c;
  }
  if (digits.empty()) return fallback;
  std::size_t pos = 0;
  const bool negative = digits[0] == '-';
  if (digits[0] == '-' || digits[0] == '+') pos = 1;
  if (pos == digits.size()) return fallback;
  std::int64_t value = 0;
  for (; pos < digits.size(); ++pos) {
    const char c = digits[pos];
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return fallback;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return fallback;
  return static_cast<std::int32_t>(value);
}

}  // namespace kelvrin::protocols
