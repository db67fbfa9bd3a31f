#pragma once

// TPop3Client: the POP3 side of a mail check, over one blocking connection
// (RFC 1939; STLS from RFC 2595).
//
// Everything runs on the calling thread. While a reply is awaited, and while
// one streams in, the client pumps the EventPump at least every 20 ms, so the
// desktop program stays alive and a Cancel can call Abort in the middle of a
// retrieval.
//
// The server is not trusted: every reply is bounded (a status line, a
// header block, a message by its LIST size, a listing by the message
// count) and has an overall deadline besides the time-out between its
// pieces; a reply that passes either, a greeting that is not "+OK", and a
// `UIDL n` or `LIST n` reply that names another message are protocol errors
// that close the connection without QUIT (so no DELE of the session takes
// effect) and raise Pop3Error with the reason. Bytes a server sends after
// the end of a reply are kept for the next one, never dropped or merged
// into it, so a reply read out of step shows as a mismatch.
//
// Refused commands are not exceptions: they close the connection (with
// QUIT, or without it once Abort was called, so that a cancelled session
// never makes its DELEs final) and are reported through OnError with one of
// these codes (Msg is ReplyText):
//   2001  USER or PASS refused (Login)
//   2003  DELE refused
//   2004  a retrieval ended with Failed set
//   2006  STAT or UIDL refused
//   2007  RSET or LIST refused
//   2008  STLS refused, so the connection was not secured (Connect)
// Socket errors come through OnError as well, with the socket's code
// (errno; kTlsErrorCode = 2009 for a failed TLS handshake or an untrusted
// certificate), and then as the SocketError itself.
// Misuse and transport failures raise Pop3Error with a fixed text.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mail/mail_message.h"
#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "protocols/socket.h"

namespace kelvrin::protocols {

class Pop3Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kPop3LoginRefused = 2001;
inline constexpr int kPop3DeleteRefused = 2003;
inline constexpr int kPop3RetrieveFailed = 2004;
inline constexpr int kPop3StatRefused = 2006;
inline constexpr int kPop3ResetRefused = 2007;
inline constexpr int kPop3StlsRefused = 2008;

class TPop3Client {
 public:
  using TNotifyEvent = std::function<void(TPop3Client& Sender)>;
  using TErrorEvent =
      std::function<void(TPop3Client& Sender, std::int32_t Error, const std::string& Msg)>;
  using TProgressEvent = std::function<void(TPop3Client& Sender, std::uint16_t Percent)>;

  // The socket comes from factory (a PosixSocket when none is given).
  explicit TPop3Client(SocketFactory factory = {});
  ~TPop3Client();
  TPop3Client(const TPop3Client&) = delete;
  TPop3Client& operator=(const TPop3Client&) = delete;

  // Published properties.
  std::string UserId;
  std::string UserPasswd;
  std::string Port = "110";  // text; unreadable text connects to 110
  std::string Host;
  bool GetUIDLsOnRetrieve = false;
  std::int32_t OperationTimeout = 30000;  // ms; 0 or less: reads block without a time-out
  std::uint16_t RetrieveProgressStep = 10;
  SecurityMode Security = SecurityMode::None;
  std::string CaFile;  // extra trusted certificates (PEM); empty: the system's store only

  TNotifyEvent OnConnect;
  TNotifyEvent OnDisconnect;
  TErrorEvent OnError;
  TNotifyEvent OnAfterRetrieve;
  TProgressEvent OnRetrieveProgress;

  // State the main window reads.
  bool Failed = false;
  std::string ReplyStatus;
  std::string ReplyText;
  std::uint16_t MessageCount = 0;  // at most 65535, whatever STAT says
  // The count STAT gave, before the 16-bit limit of MessageCount.
  std::int64_t ServerMessageCount = 0;
  bool UIDLSupported = false;
  mail::TStringList DeletedNumbers;  // numbers deleted since the last Connect
  bool Aborted = false;
  // A retrieval stopped by Abort before its reply was complete: the rest of
  // that reply is still on its way and would be read as the answer to the
  // next command, so the connection can only be closed. Cleared by Connect.
  bool ReplyLeftUnread = false;
  // Why the last Connect failed (an exception's text, a refused STLS); empty
  // after a successful one.
  std::string LastErrorText;
  // Why the last unique-id listing cannot be used (a line that does not
  // parse, a number outside 1..MessageCount or listed twice); empty when it
  // can.
  std::string ListingProblem;

  // Before a header check of two messages or more, ask the server's
  // capabilities (RFC 2449); when it lists PIPELINING the check sends its
  // commands in batches and takes sizes and ids from whole listings.
  // Without PIPELINING the dialogue is the per-message one.
  bool AskCapabilities = false;
  // The last CAPA of this connection listed PIPELINING.
  bool PipeliningSupported = false;
  // Header blocks seen in earlier checks, asked for by the pipelined check
  // only (it knows a message's id and size before it asks for the header):
  // true with Lines filled means the message needs no TOP. Lines as the
  // server sent them, dot-unstuffing undone.
  std::function<bool(const std::string& UniqueId, std::int32_t Size, mail::TStringList& Lines)>
      FindKnownHeader;
  // Told the lines of every header the pipelined check fetched for a
  // message with a listed id and size (before they are parsed).
  std::function<void(const std::string& UniqueId, std::int32_t Size,
                     const mail::TStringList& Lines)>
      OnHeaderFetched;
  // Of the last header check: messages taken from FindKnownHeader, and
  // whether it was pipelined.
  int HeadersKnown = 0;
  bool LastCheckPipelined = false;

  protocols::Socket& Socket() { return *socket_; }
  void SetEventPump(EventPump& pump) { pump_ = &pump; }
  void SetClock(Clock& clock) { clock_ = &clock; }

  bool Connect();
  bool Login();
  void GetStat();
  std::int32_t GetMessageSize(std::uint16_t MsgIndex);
  bool RetrieveHeader(std::uint16_t MsgIndex, mail::TMailMessage& Msg);
  bool Retrieve(std::uint16_t MsgIndex, mail::TMailMessage& Msg);
  int RetrieveAllHeaders(mail::TMailMessageList& List);
  // Clears List and releases the messages of earlier calls that no list
  // refers to any more, then fetches every message not deleted on this
  // connection into new messages owned by the client.
  int RetrieveAll(mail::TMailMessageList& List, bool HeadersOnly);
  // RETR MsgIndex with the message's bytes handed to Sink as they arrive:
  // exactly what the server holds, without the status line, the terminating
  // line and the stuffed dots. Sink must not throw (the rest of the reply
  // would be left unread). False when the server refused the RETR (the
  // session goes on) or Abort stopped it (ReplyLeftUnread set); raises
  // Pop3Error when the connection ends before the message is complete.
  bool RetrieveRaw(std::uint16_t MsgIndex, const std::function<void(std::string_view)>& Sink);
  // The id of one message; the reply must name MsgIndex.
  std::string GetUIDL(std::uint16_t MsgIndex);
  // The unique-id listing by message number: entry i is the id of message
  // i + 1, empty for a message the listing leaves out. Returns the number of
  // entries; -1 without ids, and -1 with List empty and ListingProblem set
  // when the listing is unusable.
  std::int32_t GetUIDLList(mail::TStringList& List);
  void DeleteMessage(std::uint16_t MsgIndex);
  void Reset();
  void Noop();
  bool Quit();
  void Abort() {
    Aborted = true;
    ++abortRequests_;
  }
  bool Connected() const;

  // The messages RetrieveAll created.
  mail::MessageOwner& Messages() { return messages_; }

  // A number out of a reply text: the word at position (1-based), without
  // "(", ")", "{", "}", or fallback.
  static std::int32_t ParseReplyNumber(std::string_view reply, int position, std::int32_t fallback);
  // "msg-" n "-" user "@" host: the spool file's name before "-", its random
  // part and ".$$$"; user and host lose every byte that could leave the
  // directory.
  static std::string SpoolFilePrefix(std::uint16_t MsgIndex, std::string_view UserId,
                                     std::string_view Host);

 private:
  void SendText(const std::string& command);
  // A status reply: read until its first line is complete, then interpreted.
  // Without multiLine, whatever follows that line is kept for the next read.
  std::string ReceiveText(bool multiLine = false);
  // One more chunk of a multi-line reply, not interpreted; the time-out
  // counts from the chunk's start, but never past deadlineTick.
  std::string ReceiveChunk(std::int64_t deadlineTick);
  std::string readOnce(std::int64_t startTick);
  void interpretStatus(std::string_view chunk);
  // The rest of a multi-line reply after its first chunk, until its "."
  // line or the end of the connection; at most limit bytes in all, what
  // comes after the "." line is kept for the next read. what names the
  // reply in the error when it passes its bound.
  void collectUntilTerminator(std::string& text, std::size_t limit, const std::string& what);
  // The tick after which a reply of at most limit bytes, started now, is
  // given up; none (the largest tick) without a time-out.
  std::int64_t replyDeadline(std::size_t limit);
  // Closes without QUIT and throws Pop3Error(text).
  [[noreturn]] void protocolError(const std::string& text);
  bool RetrieveMessage(std::uint16_t MsgIndex, bool HeaderOnly, mail::TMailMessage& Msg);
  using LinesHook = std::function<void(const mail::TStringList&)>;
  // The reply of a TOP or RETR already sent, into Msg; false when it was
  // refused or Abort stopped it. beforeParse sees the lines of a reply
  // that did not fail.
  bool receiveMessage(std::uint16_t MsgIndex, bool HeaderOnly, std::int32_t size,
                      mail::TMailMessage& Msg, const LinesHook* beforeParse);
  std::int32_t receiveSize(std::uint16_t MsgIndex);
  std::string receiveUidl(std::uint16_t MsgIndex);
  // The reply to CAPA, once per connection; true when it lists PIPELINING.
  bool askPipelining();
  // Sizes by message number from one LIST; empty when the server refuses
  // it or the listing is not plainly one.
  std::vector<std::int32_t> sizeListing();
  // A refusal is one line: what followed it in text is the next reply's.
  void keepAfterFirstLine(const std::string& text);
  int retrieveHeadersPipelined(mail::TMailMessageList& List, int count);
  void RaiseError(std::int32_t code);
  // Ends the session after a refused command or a socket error.
  void endAfterFailure();
  void requireConnected(std::string_view suffix) const;
  void closeSocket();
  void socketError(const SocketError& error);
  int timeoutForBlockingCalls() const;
  // The most bytes a unique-id listing of this mailbox may take.
  std::size_t listingLimit() const;

  std::unique_ptr<protocols::Socket> socket_;
  EventPump* pump_;
  Clock* clock_;
  mail::MessageOwner messages_;
  std::string pending_;  // bytes received after the end of the last reply
  // The ids of the listing GetStat read, by number; empty when it had none
  // or it was unusable.
  std::vector<std::string> statIds_;
  bool capabilitiesAsked_ = false;
  std::int64_t lastPumpTick_ = 0;
  std::uint16_t nextThreshold_ = 0;
  std::uint16_t lastPercent_ = 0;
  bool inSocketError_ = false;
  // Abort calls so far, and their number when the running Connect began: a
  // Cancel during the connect gives it up, one from before does not.
  std::uint64_t abortRequests_ = 0;
  std::uint64_t abortsAtConnect_ = 0;
};

// One line of a listing or a scan reply, "n value" (RFC 1939 LIST and UIDL):
// n decimal from 1, the value one word of printable bytes; blanks around
// either are allowed, anything else is not.
struct ListingEntry {
  std::uint32_t Number = 0;
  std::string Value;
};
std::optional<ListingEntry> ParseListingLine(std::string_view line);

// The value of a "+OK n value" reply's text (after "+OK") when it names
// message number; nothing when it names another or does not parse.
std::optional<std::string> ValueForMessage(std::string_view replyText, std::uint32_t number);

// The lines of a unique-id listing (without status and "." lines) by
// message number, for a mailbox of count messages. Problem is set, and
// ByNumber empty, when a line does not parse or names a number outside
// 1..count or one already listed.
struct UidListing {
  std::vector<std::string> ByNumber;  // entry i: message i + 1; empty: not listed
  std::string Problem;
};
UidListing ParseUidListing(const std::vector<std::string>& lines, std::uint32_t count);

// Where a multi-line reply ends in text: the offset just after its "." line
// (ended by CR LF or a bare LF), searched from offset from; npos when it has
// not ended yet.
std::size_t MultiLineReplyEnd(std::string_view text, std::size_t from);

}  // namespace kelvrin::protocols
