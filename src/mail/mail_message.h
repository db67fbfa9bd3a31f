#pragma once

// The in-memory form of one mail message, its address lists and the list of
// messages that one check fills.
//
// Ownership: a message is either standalone (created with `new` through
// std::make_unique and owned by whoever holds the unique_ptr) or created by a
// MessageOwner (the POP3 client), which destroys it when the owner itself is
// destroyed or when it collects the messages that no TMailMessageList refers
// to any more. A TMailMessageList holds references it does not own; each
// reference keeps the message alive across such a collection, so a listed
// message can never dangle while its owner lives. Only owned messages can be
// listed. Owners must outlive the lists that refer to their messages.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mail/header_lines.h"

namespace kelvrin::mail {

using TStringList = std::vector<std::string>;

// The one exception type of the message model; what() is the exact text the
// user may see ("Oops...", "\"From\" address not complete." ...).
class MailError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TPriority : std::uint8_t { prHighest, prHigh, prNormal, prLow, prLowest };

struct TMailAddress {
  std::string Name;
  std::string Address;
};

class TAddressList {
 public:
  const TMailAddress& Items(std::size_t index) const { return items_.at(index); }
  TMailAddress& Items(std::size_t index) { return items_.at(index); }
  std::size_t Count() const { return items_.size(); }
  void Add(TMailAddress address) { items_.push_back(std::move(address)); }
  void Clear() { items_.clear(); }
  void Reserve(std::size_t count) { items_.reserve(count); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<TMailAddress> items_;
};

// One attachment of a received message.
struct TAttachedFile {
  std::string FileName;
  std::string ContentID;
  std::string ContentType;
  TStringList Lines;       // the encoded lines while decoding; emptied afterwards
  std::string Data;        // the decoded content
  std::string Identifier;  // names the temporary files of this item
};

class TAttachedFiles {
 public:
  TAttachedFile& Add(std::string_view name, std::string_view contentId);
  const TAttachedFile& Items(std::size_t index) const { return *items_.at(index); }
  TAttachedFile& Items(std::size_t index) { return *items_.at(index); }
  std::size_t Count() const { return items_.size(); }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TAttachedFile>> items_;
};

class MessageOwner;
class TMailMessageList;

// The moment a message is composed, as the local clock shows it. Compose
// takes it from the system unless a test hands one in.
struct ComposeTime {
  std::tm Local{};            // local calendar time
  long UtcOffsetSeconds = 0;  // the offset in effect then, east of UTC positive
  // The local time of t, with the zone offset of that moment (daylight saving
  // included).
  static ComposeTime FromTimeT(std::time_t t);
  static ComposeTime Now();
};

class TMailMessage {
 public:
  // A standalone message; the caller owns it.
  TMailMessage();
  ~TMailMessage();
  TMailMessage(const TMailMessage&) = delete;
  TMailMessage& operator=(const TMailMessage&) = delete;

  // Fields, in declaration order of the record.
  TPriority Priority = TPriority::prNormal;
  TAddressList FromList;
  TAddressList ReplyToList;
  std::string ReturnPath;
  TAddressList SendToList;
  TAddressList CCList;
  TAddressList BCCList;
  std::string DateText;
  std::string Subject;
  TStringList Text;
  TStringList HTML;
  TAttachedFiles Attachments;
  std::string MimeVersion;
  HeaderLines Headers;  // the raw header lines, held as one block of text
  std::string CharSet = "iso-8859-1";
  std::int32_t RawSize = 0;
  std::int32_t Size = 0;
  std::string UIDL;
  TStringList RawMail;
  bool ClearRawMailAfterParse = true;
  std::string LocalAddr;
  // Where the lines of Text came from: a run starts at line FirstLine and
  // carries the Content-Type value (upper case, with parameters) of its part,
  // empty for text of no declared type. Display text converts each run from
  // its own charset; the message itself never converts.
  struct TextRun {
    std::size_t FirstLine = 0;
    std::string ContentType;
  };
  std::vector<TextRun> TextRuns;

  const std::string& LocalHost() const { return localHost_; }
  // A value that is empty after trimming stores "a.b.c".
  void SetLocalHost(std::string_view host);

  // Assigning copies the given lines into the owned list.
  void SetText(const TStringList& lines) { Text = lines; }
  void SetHTML(const TStringList& lines) { HTML = lines; }

  // Address views (read) and their setters (parse the text into the list).
  std::string From() const;
  std::string ReplyTo() const;
  std::string SendTo() const;
  std::string CC() const;
  std::string BCC() const;
  void SetFrom(std::string_view text);
  void SetReplyTo(std::string_view text);
  void SetSendTo(std::string_view text);
  void SetCC(std::string_view text);
  void SetBCC(std::string_view text);

  std::string FromName() const;
  std::string FromAddress() const;
  std::string ReplyToName() const;
  std::string ReplyToAddress() const;
  std::string SendToName() const;
  std::string SendToAddress() const;
  std::string CCName() const;
  std::string CCAddress() const;
  std::string BCCName() const;
  std::string BCCAddress() const;

  // Copies the lines into RawMail and parses them; the only way the POP3
  // client fills a message. Taking the lines by value lets callers move them.
  void LoadRawMail(TStringList lines);
  // Splits RawMail into the header fields and the body. May throw MailError
  // from the body parsing (a broken uuencoded block).
  void Parse();
  // RawSize when non-zero, else the length of RawMail as text (CR LF after
  // every line).
  std::int64_t RawMailSize() const;

  // Fills RawMail with the header lines, an empty line and the dot-stuffed
  // body. Throws MailError when the sender or the recipients are missing.
  void Compose();
  // The same at a given moment (the Date line and the date of the message id).
  void Compose(const ComposeTime& now);

  // The owner that created this message, or nullptr for a standalone one.
  MessageOwner* Owner() const { return owner_; }

 private:
  friend class MessageOwner;
  friend class TMailMessageList;

  std::string localHost_ = "a.b.c";
  MessageOwner* owner_ = nullptr;
  int listRefs_ = 0;  // how many TMailMessageList entries refer to this message
  bool destroyWhenUnlisted_ = false;
};

// Creates messages and destroys them: "a component created with an owner".
class MessageOwner {
 public:
  MessageOwner();
  ~MessageOwner();
  MessageOwner(const MessageOwner&) = delete;
  MessageOwner& operator=(const MessageOwner&) = delete;

  TMailMessage& CreateMessage();
  // Destroys a message this owner created (at once, or when the last list
  // lets go of it).
  void DestroyMessage(TMailMessage& message);
  // Destroys every owned message that no list refers to; returns how many.
  std::size_t ReleaseUnlisted();
  std::size_t OwnedCount() const { return owned_.size(); }

 private:
  friend class TMailMessageList;
  void destroyNow(TMailMessage& message);
  std::vector<std::unique_ptr<TMailMessage>> owned_;
};

// Ordered references to messages; item i after a header check is server
// message i + 1.
class TMailMessageList {
 public:
  TMailMessageList() = default;
  ~TMailMessageList();
  TMailMessageList(const TMailMessageList&) = delete;
  TMailMessageList& operator=(const TMailMessageList&) = delete;

  TMailMessage& Items(std::size_t index) const { return *items_.at(index); }
  std::size_t Count() const { return items_.size(); }
  // Appends an owned message; returns the new index. Throws
  // std::invalid_argument for a standalone message.
  std::size_t Add(TMailMessage& message);
  // Forgets all references; the messages stay with their owner.
  void Clear();
  // Removes the message at index and destroys it.
  void Delete(std::size_t index);

 private:
  void release(TMailMessage& message);
  std::vector<TMailMessage*> items_;
};

}  // namespace kelvrin::mail
