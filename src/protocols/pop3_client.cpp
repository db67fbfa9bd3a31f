#include "protocols/pop3_client.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <utility>

#include "base/ascii_text.h"
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
constexpr std::size_t kSpoolNamePartLimit = 80;
constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
// The header block of one message (TOP n 0): far beyond any real one.
constexpr std::size_t kHeaderReplyLimit = 8 * kMiB;
// A whole message may differ from its LIST size a little (line ends, dot
// stuffing, a size the server only estimates), never by this much.
constexpr std::size_t kMessageMarginBytes = 64 * kKiB;
// A listing line is a number, a blank and an id of at most 70 bytes.
constexpr std::size_t kListingBytesPerMessage = 128;
constexpr std::size_t kListingSlackBytes = 4 * kKiB;
// The overall deadline of a reply: its time-out plus its bound at this
// rate; only a server that trickles on purpose stays below it.
constexpr std::size_t kSlowestBytesPerSecond = 8 * kKiB;
constexpr std::int64_t kNoDeadline = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t kCapabilityListLimit = 64 * kKiB;
// A pipelined header check keeps the replies of at most kPipelineWindow
// messages outstanding and sends kPipelineBatch messages' commands per
// write. 100 headers of 1-2 KB are 100-200 KB in flight: more than a
// 10-100 ms link carries in one round trip at ordinary speeds, so the
// link stays busy, while a batch's commands (about 2 KB) fit the socket
// buffers at once and a write never waits for the server to read. A
// Cancel or an error wastes at most one window.
constexpr int kPipelineWindow = 100;
constexpr int kPipelineBatch = 50;
// One message gains too little from a batch to be worth an extra command.
constexpr int kPipelineFromMessages = 2;
// Known headers wait in the queue with their lines: a bound on that memory.
constexpr std::size_t kPipelineQueueLimit = 2 * kPipelineWindow;

std::string sizeText(std::size_t bytes) {
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string((bytes + kKiB - 1) / kKiB) + " KiB";
}

std::string overrunText(std::size_t limit, const std::string& what) {
  return "The server sent more than " + sizeText(limit) + " for " + what + ".";
}

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
  // Line breaks are LF, CR LF or a lone CR. Found with memchr (a reply is
  // megabytes at times): the LFs first, then any CR inside a line.
  thread_local std::vector<std::string_view> found;
  found.clear();
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* start = begin;
  const auto cutAtLoneCRs = [](const char* from, const char* to) {
    // [from, to) holds no LF; every CR in it ends a line.
    while (const void* cr = std::memchr(from, '\r', static_cast<std::size_t>(to - from))) {
      const char* at = static_cast<const char*>(cr);
      found.emplace_back(from, static_cast<std::size_t>(at - from));
      from = at + 1;
    }
    return from;
  };
  while (start < end) {
    const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(end - start));
    if (lf == nullptr) break;
    const char* at = static_cast<const char*>(lf);
    // The CR of a CR LF belongs to the break; any CR before it is a break too.
    const char* lineEnd = (at > start && at[-1] == '\r') ? at - 1 : at;
    const char* from = cutAtLoneCRs(start, lineEnd);
    found.emplace_back(from, static_cast<std::size_t>(lineEnd - from));
    start = at + 1;
  }
  // After the last LF: lines ended by a lone CR, and a last line without a break.
  start = cutAtLoneCRs(start, end);
  if (start < end) found.emplace_back(start, static_cast<std::size_t>(end - start));
  // Exactly as many entries as lines: a header check keeps these lines for
  // every message, and a vector grown by doubling would keep up to twice
  // the room.
  mail::TStringList lines;
  lines.reserve(found.size());
  for (const std::string_view line : found)
    lines.emplace_back(line);
  if (found.capacity() > 4096) found = {};  // not kept after a huge reply
  return lines;
}

// The message count of a STAT reply ("+OK count size"); nothing when it
// cannot be read.
std::optional<std::int64_t> statCount(std::string_view status, std::string_view text) {
  if (status != "+OK") return std::nullopt;
  text = TrimBlanks(text);
  const std::string_view word = text.substr(0, text.find(' '));
  if (word.empty() || word.size() > 10) return std::nullopt;
  std::int64_t count = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + (c - '0');
  }
  return count;
}

// Listings are read whole, so a count no mailbox has must not make their
// bound unlimited.
constexpr std::int64_t kListingCountCap = 1 << 20;

bool isWordByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 32 && byte != 127;
}

}  // namespace

std::optional<ListingEntry> ParseListingLine(std::string_view line) {
  line = TrimBlanks(line);
  std::size_t digits = 0;
  std::uint64_t number = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
    number = number * 10 + static_cast<std::uint64_t>(line[digits] - '0');
    if (number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    ++digits;
  }
  if (digits == 0 || number == 0 || digits == line.size() || line[digits] != ' ') {
    return std::nullopt;
  }
  const std::string_view value = TrimBlanks(line.substr(digits));
  if (value.empty() || !std::all_of(value.begin(), value.end(), isWordByte)) return std::nullopt;
  return ListingEntry{static_cast<std::uint32_t>(number), std::string(value)};
}

std::optional<std::string> ValueForMessage(std::string_view replyText, std::uint32_t number) {
  std::optional<ListingEntry> entry = ParseListingLine(replyText);
  if (!entry || entry->Number != number) return std::nullopt;
  return std::move(entry->Value);
}

UidListing ParseUidListing(const std::vector<std::string>& lines, std::uint32_t count) {
  UidListing listing;
  listing.ByNumber.resize(count);
  std::size_t lineNumber = 0;
  for (const std::string& line : lines) {
    ++lineNumber;
    const std::optional<ListingEntry> entry = ParseListingLine(line);
    std::string problem;
    if (!entry) {
      problem = "line " + std::to_string(lineNumber) + " is not \"number id\"";
    } else if (entry->Number > count) {
      problem =
          "it lists message " + std::to_string(entry->Number) + " of " + std::to_string(count);
    } else if (!listing.ByNumber[entry->Number - 1].empty()) {
      problem = "it lists message " + std::to_string(entry->Number) + " twice";
    } else {
      listing.ByNumber[entry->Number - 1] = entry->Value;
      continue;
    }
    listing.ByNumber.clear();
    listing.Problem = "The server's id listing is unusable: " + problem + ".";
    return listing;
  }
  return listing;
}

std::size_t MultiLineReplyEnd(std::string_view text, std::size_t from) {
  // The "." line follows the line end of the line before it (the status
  // line at least); CR LF or a bare LF ends it.
  for (std::size_t at = text.find("\n.", from); at != std::string_view::npos;
       at = text.find("\n.", at + 1)) {
    const std::size_t after = at + 2;
    if (after < text.size() && text[after] == '\n') return after + 1;
    if (after + 1 < text.size() && text[after] == '\r' && text[after + 1] == '\n') {
      return after + 2;
    }
  }
  return std::string_view::npos;
}

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
  // Name resolution, connect and handshake let events run as every wait
  // does, and a Cancel meanwhile gives the connect up.
  socket_->WhileWaiting = [this] {
    pump_->ProcessEvents();
    return abortRequests_ == abortsAtConnect_;
  };
}

TPop3Client::~TPop3Client() {
  // No events into an owner that is being torn down.
  socket_->OnConnected = nullptr;
  socket_->OnDisconnected = nullptr;
  socket_->OnError = nullptr;
  socket_->WhileWaiting = nullptr;
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
  pending_.clear();
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

void TPop3Client::protocolError(const std::string& text) {
  // The reply stream cannot be trusted any more: QUIT would make this
  // session's DELEs final.
  closeSocket();
  throw Pop3Error(text);
}

std::int64_t TPop3Client::replyDeadline(std::size_t limit) {
  if (OperationTimeout <= 0) return kNoDeadline;
  const auto allowance = static_cast<std::int64_t>(limit / kSlowestBytesPerSecond * 1000);
  return clock_->TickCount() + OperationTimeout + allowance;
}

std::string TPop3Client::readOnce(std::int64_t startTick) {
  if (!pending_.empty()) return std::exchange(pending_, std::string());
  std::string chunk;
  switch (ReadChunk(
      *socket_, [this] { return Connected(); }, *pump_, *clock_, OperationTimeout, startTick, chunk,
      &lastPumpTick_)) {
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
  std::size_t lineEnd = chunk.find('\n');
  if (lineEnd != std::string_view::npos && lineEnd > 0 && chunk[lineEnd - 1] == '\r') --lineEnd;
  if (lineEnd == std::string_view::npos) {
    ReplyText = std::string(TrimBlanks(chunk.substr(4)));
  } else if (lineEnd <= 4) {
    ReplyText.clear();
  } else {
    ReplyText = std::string(TrimBlanks(chunk.substr(4, lineEnd - 4)));
  }
  Failed = ReplyStatus == "-ERR";
}

std::string TPop3Client::ReceiveText(bool multiLine) {
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
      const std::size_t searchFrom = text.size();
      text += chunk;
      // A bare LF ends the line as well: some servers write no CR.
      const std::size_t lineEnd = text.find('\n', searchFrom);
      if (lineEnd != std::string::npos) {
        if (!multiLine) {
          pending_ = text.substr(lineEnd + 1);
          text.resize(lineEnd + 1);
        }
        break;
      }
      if (text.size() >= kStatusLineLimit) {
        protocolError("The server sent a status line of more than " + sizeText(kStatusLineLimit) +
                      ".");
      }
    }
    interpretStatus(text);
  } catch (...) {
    closeSocket();
    throw;
  }
  return text;
}

std::string TPop3Client::ReceiveChunk(std::int64_t deadlineTick) {
  try {
    const std::int64_t now = clock_->TickCount();
    if (now > deadlineTick) throw Pop3Error("Receive Timeout.  No Data Available.");
    // The wait ends after the time-out, or at the deadline if that is
    // sooner.
    const std::int64_t start =
        deadlineTick == kNoDeadline ? now : std::min(now, deadlineTick - OperationTimeout);
    return readOnce(start);
  } catch (...) {
    closeSocket();
    throw;
  }
}

void TPop3Client::collectUntilTerminator(std::string& text, std::size_t limit,
                                         const std::string& what) {
  const std::int64_t deadline = replyDeadline(limit);
  std::size_t end = MultiLineReplyEnd(text, 0);
  while (end == std::string::npos) {
    if (text.size() > limit) protocolError(overrunText(limit, what));
    if (Aborted) {
      // The rest is still on its way; only closing the connection ends it.
      ReplyLeftUnread = true;
      closeSocket();
      throw Pop3Error("Cancelled while the server was sending " + what + ".");
    }
    const std::size_t searchFrom = text.size() < 3 ? 0 : text.size() - 3;
    std::string chunk = ReceiveChunk(deadline);
    if (chunk.empty()) return;
    text += chunk;
    end = MultiLineReplyEnd(text, searchFrom);
  }
  pending_ = text.substr(end);
  text.resize(end);
  if (text.size() > limit) protocolError(overrunText(limit, what));
}

bool TPop3Client::Connect() {
  DeletedNumbers.clear();
  MessageCount = 0;
  LastErrorText.clear();
  PointSocketAt(*socket_, Host, Port, 110, Security, CaFile);
  Failed = false;
  ReplyLeftUnread = false;
  abortsAtConnect_ = abortRequests_;
  statIds_.clear();
  capabilitiesAsked_ = false;
  PipeliningSupported = false;
  try {
    pending_.clear();
    socket_->Open(timeoutForBlockingCalls());
    if (socket_->IsConnected()) {
      const std::string greeting = ReceiveText();
      // Nothing, and above all no password, goes to a server that has not
      // greeted with a whole "+OK" line.
      if (ReplyStatus != "+OK" || greeting.find('\n') == std::string::npos) {
        LastErrorText =
            "The server did not greet with +OK: " + std::string(TrimBlanks(greeting.substr(0, 80)));
        Failed = true;
        closeSocket();
        return false;
      }
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
  // An unreadable count is no empty mailbox.
  const std::optional<std::int64_t> count = statCount(ReplyStatus, ReplyText);
  if (!count) protocolError("The server's STAT reply cannot be read: " + ReplyText.substr(0, 60));
  ServerMessageCount = *count;
  // Message numbers are 16-bit: a larger mailbox is worked from its first
  // 65535 messages rather than with wrapped numbers.
  MessageCount = static_cast<std::uint16_t>(
      std::min<std::int64_t>(*count, std::numeric_limits<std::uint16_t>::max()));
  SendText("LAST");
  ReceiveText();
  Failed = false;
  UIDLSupported = true;
  try {
    SendText("UIDL");
    std::string text = ReceiveText(true);
    if (ReplyStatus == "-ERR") {
      UIDLSupported = false;
    } else {
      collectUntilTerminator(text, listingLimit(), "the id listing");
      // Kept for a pipelined header check, which then needs no UIDL n.
      mail::TStringList lines = splitLines(text);
      text.clear();
      if (lines.size() >= 2 && lines.back() == ".") {
        lines.pop_back();
        lines.erase(lines.begin());
        UidListing listing = ParseUidListing(
            lines,
            static_cast<std::uint32_t>(std::clamp<std::int64_t>(*count, 0, kListingCountCap)));
        if (listing.Problem.empty()) {
          statIds_ = std::move(listing.ByNumber);
          statIds_.resize(MessageCount);
        }
      }
    }
  } catch (...) {
    UIDLSupported = false;
    // A listing that passed its bound or its deadline ends the session.
    if (!Connected()) throw;
  }
  Failed = false;
}

std::size_t TPop3Client::listingLimit() const {
  const auto count =
      static_cast<std::size_t>(std::clamp<std::int64_t>(ServerMessageCount, 0, kListingCountCap));
  return (count + 1) * kListingBytesPerMessage + kListingSlackBytes;
}

std::int32_t TPop3Client::GetMessageSize(std::uint16_t MsgIndex) {
  requireConnected(" Attempting to get message size.");
  SendText("LIST " + std::to_string(MsgIndex));
  return receiveSize(MsgIndex);
}

std::int32_t TPop3Client::receiveSize(std::uint16_t MsgIndex) {
  ReceiveText();
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3ResetRefused);
    return 0;
  }
  // The size bounds the retrieval: a reply about another message, or none
  // that can be read, is a reply out of step.
  const std::optional<std::string> size = ValueForMessage(ReplyText, MsgIndex);
  const std::int32_t value = size ? ParseReplyNumber(*size, 1, -1) : -1;
  if (value < 0) {
    protocolError("The server's LIST reply does not give the size of message " +
                  std::to_string(MsgIndex) + ".");
  }
  return value;
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
  const std::int32_t size = GetMessageSize(MsgIndex);
  const std::string n = std::to_string(MsgIndex);
  SendText(HeaderOnly ? "TOP " + n + " 0" : "RETR " + n);
  if (!receiveMessage(MsgIndex, HeaderOnly, size, Msg, nullptr)) return false;
  if (GetUIDLsOnRetrieve) Msg.UIDL = GetUIDL(MsgIndex);
  if (OnAfterRetrieve) OnAfterRetrieve(*this);
  return true;
}

bool TPop3Client::receiveMessage(std::uint16_t MsgIndex, bool HeaderOnly, std::int32_t size,
                                 mail::TMailMessage& Msg, const LinesHook* beforeParse) {
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
  // The spool never holds more than the reply can reasonably be.
  const std::size_t limit = HeaderOnly
                                ? kHeaderReplyLimit
                                : static_cast<std::size_t>(size) +
                                      static_cast<std::size_t>(size) / 2 + kMessageMarginBytes;
  const std::string what = "message " + n;
  const std::int64_t deadline = replyDeadline(limit);
  std::string chunk = ReceiveText(true);
  if (Failed) {
    // A refusal is one line; what followed it belongs to the next reply.
    const std::size_t lineEnd = chunk.find('\n');
    if (lineEnd != std::string::npos) pending_ = chunk.substr(lineEnd + 1) + pending_;
    return false;
  }

  nextThreshold_ = RetrieveProgressStep;
  lastPercent_ = 0;
  std::string tail;
  // Takes what of chunk belongs to this reply (the rest is kept for the
  // next one); true when the reply is complete.
  auto takeReply = [this, &tail, &chunk]() {
    // The terminator may be split between two chunks (RFC 1939 section 3):
    // look for it across the boundary.
    const std::string probe = tail + chunk;
    const std::size_t end = MultiLineReplyEnd(probe, 0);
    if (end != std::string::npos) {
      const std::size_t cut = end - tail.size();
      pending_ = chunk.substr(cut);
      chunk.resize(cut);
      return true;
    }
    tail = tailOf(probe, 4);
    return false;
  };
  bool complete = takeReply();
  spoolWrite(chunk);
  while (!complete) {
    if (spool.Size() > limit) protocolError(overrunText(limit, what));
    if (Aborted) {
      ReplyLeftUnread = true;
      return false;
    }
    chunk = ReceiveChunk(deadline);
    if (chunk.empty()) break;
    complete = takeReply();
    spoolWrite(chunk);
    // A size of 0 or less (a LIST that gave nonsense) cannot be divided by.
    const auto spooled = static_cast<std::int64_t>(spool.Size());
    lastPercent_ = size > 0 ? ClampPercent(base::roundHalfEven(spooled * 100, size)) : 100;
    if (lastPercent_ >= nextThreshold_) {
      if (OnRetrieveProgress) OnRetrieveProgress(*this, lastPercent_);
      nextThreshold_ = ClampPercent(std::int64_t{nextThreshold_} + RetrieveProgressStep);
    }
  }
  if (spool.Size() > limit) protocolError(overrunText(limit, what));
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
  // Only a whole reply is worth keeping: a header cut short by a dropped
  // connection would come back from the cache as the message's.
  if (beforeParse != nullptr && *beforeParse && !Failed && complete) (*beforeParse)(lines);
  Msg.LoadRawMail(std::move(lines));
  Msg.Size = HeaderOnly ? size
                        : static_cast<std::int32_t>(std::min<std::int64_t>(
                              Msg.RawMailSize(), std::numeric_limits<std::int32_t>::max()));
  if (Failed) RaiseError(kPop3RetrieveFailed);
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
  HeadersKnown = 0;
  LastCheckPipelined = false;
  if (HeadersOnly && AskCapabilities &&
      count - static_cast<int>(DeletedNumbers.size()) >= kPipelineFromMessages) {
    requireConnected(" Attempting to receive a message. (1)");
    if (askPipelining()) return retrieveHeadersPipelined(List, count);
  }
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

void TPop3Client::keepAfterFirstLine(const std::string& text) {
  const std::size_t lineEnd = text.find('\n');
  if (lineEnd != std::string::npos) pending_ = text.substr(lineEnd + 1) + pending_;
}

bool TPop3Client::askPipelining() {
  if (capabilitiesAsked_) return PipeliningSupported;
  capabilitiesAsked_ = true;
  PipeliningSupported = false;
  SendText("CAPA");
  std::string text = ReceiveText(true);
  if (ReplyStatus != "+OK") {
    // A server without CAPA gets the dialogue it always got.
    keepAfterFirstLine(text);
    Failed = false;
    return false;
  }
  collectUntilTerminator(text, kCapabilityListLimit, "the capability list");
  mail::TStringList lines = splitLines(text);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string_view name = TrimBlanks(lines[i]);
    name = name.substr(0, name.find(' '));
    if (base::equalFoldingAscii(name, "PIPELINING")) PipeliningSupported = true;
  }
  return PipeliningSupported;
}

std::vector<std::int32_t> TPop3Client::sizeListing() {
  SendText("LIST");
  std::string text = ReceiveText(true);
  if (ReplyStatus != "+OK") {
    // The per-message LIST n stays, with its own handling of a refusal.
    keepAfterFirstLine(text);
    Failed = false;
    return {};
  }
  collectUntilTerminator(text, listingLimit(), "the size listing");
  mail::TStringList lines = splitLines(text);
  text.clear();
  if (lines.size() < 2 || lines.back() != ".") return {};
  std::vector<std::int32_t> sizes(MessageCount, -1);
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::optional<ListingEntry> entry = ParseListingLine(lines[i]);
    const std::int32_t size = entry ? ParseReplyNumber(entry->Value, 1, -1) : -1;
    if (!entry || size < 0 || entry->Number > ServerMessageCount) return {};
    if (entry->Number > MessageCount) continue;
    if (sizes[entry->Number - 1] >= 0) return {};
    sizes[entry->Number - 1] = size;
  }
  return sizes;
}

int TPop3Client::retrieveHeadersPipelined(mail::TMailMessageList& List, int count) {
  LastCheckPipelined = true;
  const std::vector<std::int32_t> sizes = sizeListing();
  struct Item {
    std::uint16_t number = 0;
    bool listSent = false;
    bool uidlSent = false;
    bool known = false;
    mail::TStringList lines;  // a known header's lines
  };
  std::deque<Item> queue;
  int inFlight = 0;  // items whose commands are sent and replies unread
  int next = 1;
  int added = 0;
  const auto isDeleted = [this](int number) {
    return std::find(DeletedNumbers.begin(), DeletedNumbers.end(), std::to_string(number)) !=
           DeletedNumbers.end();
  };
  const auto idOf = [this](int number) -> const std::string& {
    static const std::string none;
    const auto at = static_cast<std::size_t>(number - 1);
    return at < statIds_.size() ? statIds_[at] : none;
  };
  const auto sizeOf = [&sizes](int number) {
    const auto at = static_cast<std::size_t>(number - 1);
    return at < sizes.size() ? sizes[at] : -1;
  };
  // Queues the next messages, their commands in one write, keeping at most
  // kPipelineWindow messages' replies outstanding.
  const auto refill = [&] {
    std::string batch;
    int queued = 0;
    while (next <= count && queued < kPipelineBatch && inFlight < kPipelineWindow &&
           queue.size() < kPipelineQueueLimit) {
      const int number = next++;
      if (isDeleted(number)) continue;
      Item item;
      item.number = static_cast<std::uint16_t>(number);
      const std::string& id = idOf(number);
      const std::int32_t size = sizeOf(number);
      if (!id.empty() && size >= 0 && FindKnownHeader && FindKnownHeader(id, size, item.lines)) {
        item.known = true;
        queue.push_back(std::move(item));
        continue;
      }
      const std::string n = std::to_string(number);
      if (size < 0) {
        batch += "LIST " + n + "\r\n";
        item.listSent = true;
      }
      batch += "TOP " + n + " 0\r\n";
      if (GetUIDLsOnRetrieve && UIDLSupported && id.empty()) {
        batch += "UIDL " + n + "\r\n";
        item.uidlSent = true;
      }
      queue.push_back(std::move(item));
      ++inFlight;
      ++queued;
    }
    if (!batch.empty()) socket_->Send(batch);
  };

  while (!queue.empty() || next <= count) {
    // Half the window is refilled at a time: fewer, fuller writes, and the
    // server never runs dry while the replies of the other half are read.
    if (inFlight <= kPipelineWindow - kPipelineBatch && next <= count && Connected()) refill();
    if (queue.empty()) break;
    Item item = std::move(queue.front());
    queue.pop_front();
    const std::uint16_t number = item.number;
    const std::string n = std::to_string(number);
    const std::string& id = idOf(number);
    mail::TMailMessage& message = messages_.CreateMessage();
    bool fetched = false;
    bool unread = false;  // a reply of this message's commands not read
    if (item.known) {
      message.LoadRawMail(std::move(item.lines));
      message.Size = sizeOf(number);
      if (GetUIDLsOnRetrieve) message.UIDL = id;
      ++HeadersKnown;
      fetched = true;
    } else {
      --inFlight;
      // A refused command of a batch has ended the session, as it does in
      // the per-message dialogue: the next message cannot be asked for.
      requireConnected(" Attempting to receive a message. (" + n + ")");
      const std::int32_t size = item.listSent ? receiveSize(number) : sizeOf(number);
      requireConnected(" Attempting to receive a message. (" + n + ")");
      LinesHook remember;
      if (OnHeaderFetched && !id.empty()) {
        remember = [this, &id, size](const mail::TStringList& lines) {
          OnHeaderFetched(id, size, lines);
        };
      }
      fetched = receiveMessage(number, true, size, message, &remember);
      if (Aborted) {
        unread = unread || item.uidlSent;
      } else if (item.uidlSent) {
        requireConnected(" Attempting to get UIDL. " + n + ")");
        std::string uidl = receiveUidl(number);
        // After a refused TOP the per-message dialogue asks no UIDL n.
        if (fetched) message.UIDL = std::move(uidl);
      } else if (fetched && GetUIDLsOnRetrieve) {
        message.UIDL = id;
      }
    }
    if (fetched && OnAfterRetrieve) OnAfterRetrieve(*this);
    if (Aborted) {
      messages_.DestroyMessage(message);
      if ((unread || inFlight > 0 || ReplyLeftUnread) && Connected()) {
        // Replies are still on their way; a cancelled check makes none of
        // this session's changes final, so no QUIT.
        ReplyLeftUnread = true;
        closeSocket();
      }
      break;
    }
    List.Add(message);
    ++added;
  }
  // A TOP reply does not name its message: one extra reply from the server
  // would shift every later header onto the message after its own. All
  // replies are read now, so anything more shows the shift.
  if (!Aborted && Connected() && (!pending_.empty() || socket_->WaitReadable(0))) {
    protocolError("The server sent more replies than the header check asked for.");
  }
  return added;
}

bool TPop3Client::RetrieveRaw(std::uint16_t MsgIndex,
                              const std::function<void(std::string_view)>& Sink) {
  const std::string n = std::to_string(MsgIndex);
  requireConnected(" Attempting to receive a message. (" + n + ")");
  // Bounded as a whole-message retrieval is: the listed size with a margin,
  // and a deadline in proportion.
  const std::int32_t size = std::max<std::int32_t>(GetMessageSize(MsgIndex), 0);
  // A refused LIST has ended the session already; its reason, not a "Not
  // connected" of the RETR that would follow, is what the caller reports.
  if (Failed || !Connected()) return false;
  const std::size_t limit =
      static_cast<std::size_t>(size) + static_cast<std::size_t>(size) / 2 + kMessageMarginBytes;
  SendText("RETR " + n);
  const std::int64_t deadline = replyDeadline(limit);
  std::string chunk = ReceiveText();
  if (Failed) return false;
  DotUnstuffer unstuffer;
  std::string bytes;
  std::size_t received = 0;
  try {
    for (;;) {
      received += chunk.size();
      if (received > limit) protocolError(overrunText(limit, "message " + n));
      bytes.clear();
      const bool complete = unstuffer.Feed(chunk, bytes);
      if (!bytes.empty()) Sink(bytes);
      if (complete) {
        // What came after the terminating line is the next reply's start.
        pending_ = chunk.substr(unstuffer.Used()) + pending_;
        return true;
      }
      if (Aborted) {
        ReplyLeftUnread = true;
        return false;
      }
      chunk = ReceiveChunk(deadline);
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
  return receiveUidl(MsgIndex);
}

std::string TPop3Client::receiveUidl(std::uint16_t MsgIndex) {
  ReceiveText();
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3StatRefused);
    return {};
  }
  // An id for another message (a reply read out of step, a forged line)
  // must never pass for this one's.
  std::optional<std::string> id = ValueForMessage(ReplyText, MsgIndex);
  if (!id) {
    protocolError("The server's UIDL reply does not name message " + std::to_string(MsgIndex) +
                  ".");
  }
  return std::move(*id);
}

std::int32_t TPop3Client::GetUIDLList(mail::TStringList& List) {
  if (!UIDLSupported) return -1;
  requireConnected(" Attempting to get UIDL list.");
  ListingProblem.clear();
  List.clear();
  SendText("UIDL");
  std::string text = ReceiveText(true);
  if (ReplyStatus == "-ERR") {
    RaiseError(kPop3StatRefused);
    return -1;
  }
  // Deletions go by this listing: a reply that is not plainly one is none,
  // and whether more lines of it follow cannot be told.
  if (ReplyStatus != "+OK") {
    protocolError("The server's UIDL reply is neither +OK nor -ERR.");
  }
  collectUntilTerminator(text, listingLimit(), "the id listing");
  mail::TStringList lines = splitLines(text);
  text.clear();
  if (!lines.empty()) lines.erase(lines.begin());  // the status line
  if (lines.empty() || lines.back() != ".") {
    ListingProblem = "The server's id listing ended early.";
    return -1;
  }
  lines.pop_back();
  UidListing listing = ParseUidListing(lines, static_cast<std::uint32_t>(std::clamp<std::int64_t>(
                                                  ServerMessageCount, 0, kListingCountCap)));
  if (!listing.Problem.empty()) {
    ListingProblem = std::move(listing.Problem);
    return -1;
  }
  List = std::move(listing.ByNumber);
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
