#include "mail/mail_message.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <span>

#include "mail/header_parsing.h"
#include "mail/mime_body.h"
#include "mail/mime_types.h"
#include "mail/random_source.h"

namespace kelvrin::mail {
namespace {

std::string currentThreadId() {
  return std::to_string(static_cast<long>(::syscall(SYS_gettid)));
}

// "Name" <Address> or <Address>; with nameFromAddress an empty name is
// replaced by the local part of the address.
std::string addressView(const TAddressList& list, bool nameFromAddress) {
  std::string out;
  for (const TMailAddress& a : list) {
    if (!out.empty()) out += ',';
    std::string name = Trim(a.Name);
    if (name.empty() && nameFromAddress) name = a.Address.substr(0, a.Address.find('@'));
    if (!name.empty()) {
      out += '"';
      out += name;
      out += "\" ";
    }
    out += '<';
    out += a.Address;
    out += '>';
  }
  return out;
}

std::string joinTrimmed(const TAddressList& list, bool names) {
  std::string out;
  for (const TMailAddress& a : list) {
    const std::string_view value = TrimView(names ? a.Name : a.Address);
    if (value.empty()) continue;
    if (!out.empty()) out += ',';
    out += value;
  }
  return out;
}

bool isBlankLine(std::string_view line) {
  for (char c : line) {
    if (static_cast<unsigned char>(c) > 32) return false;
  }
  return true;
}

std::int64_t textLength(const TStringList& lines) {
  std::int64_t size = 0;
  for (const auto& line : lines)
    size += static_cast<std::int64_t>(line.size()) + 2;
  return size;
}

// DecodeHeaderText, then ParseAddressList; most values hold no encoded word
// and need no decoded copy (ParseAddressList trims every entry itself).
void parseAddressValue(const std::string& value, TAddressList& list) {
  if (value.find("=?") == std::string::npos) {
    ParseAddressList(TrimView(value), list);
  } else {
    ParseAddressList(DecodeHeaderText(value), list);
  }
}

// The header block holds no empty line, so the first line of a header found
// by the index is also the first line CollectAddressHeader would take.
void parseHeaders(TMailMessage& m, const HeaderIndex& index) {
  const LinesView h = index.Lines();
  HeaderMatch header;
  if (index.Get(HeaderIndex::kFrom, header)) {
    parseAddressValue(GetHeaderValue("FROM:", *header, false), m.FromList);
  }
  if (index.Get(HeaderIndex::kReturnPath, header)) {
    m.ReturnPath = GetHeaderValue("RETURN-PATH:", *header, true);
  }
  if (index.Get(HeaderIndex::kReplyTo, header)) {
    parseAddressValue(GetHeaderValue("REPLY-TO:", *header, true), m.ReplyToList);
  }
  if (auto to = index.First(HeaderIndex::kTo)) {
    ParseAddressList(CollectAddressText(h, *to, 3), m.SendToList);
  }
  if (auto cc = index.First(HeaderIndex::kCc)) {
    ParseAddressList(CollectAddressText(h, *cc, 3), m.CCList);
  }
  if (index.Get(HeaderIndex::kDate, header)) m.DateText = GetHeaderValue("DATE:", *header, true);
  if (index.Get(HeaderIndex::kSubject, header)) m.Subject = DecodeHeaderText((*header).substr(8));
  if (index.Get(HeaderIndex::kMimeVersion, header)) {
    m.MimeVersion = Trim(GetHeaderValue("MIME-VERSION:", *header, true));
  }
}

}  // namespace

// ---------------------------------------------------------------- attachments

TAttachedFile& TAttachedFiles::Add(std::string_view name, std::string_view contentId) {
  auto item = std::make_unique<TAttachedFile>();
  const std::size_t cut = name.find_last_of("\\:/");
  item->FileName = std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
  item->ContentID = std::string(contentId);
  item->ContentType = RegisteredContentType(item->FileName);
  item->Identifier = currentThreadId();
  items_.push_back(std::move(item));
  return *items_.back();
}

// -------------------------------------------------------------------- message

TMailMessage::TMailMessage() {
  SeedRandom();
}

TMailMessage::~TMailMessage() = default;

void TMailMessage::SetLocalHost(std::string_view host) {
  localHost_ = TrimView(host).empty() ? std::string("a.b.c") : std::string(host);
}

std::string TMailMessage::From() const {
  return addressView(FromList, false);
}
std::string TMailMessage::SendTo() const {
  return addressView(SendToList, false);
}
std::string TMailMessage::CC() const {
  return addressView(CCList, false);
}
std::string TMailMessage::BCC() const {
  return addressView(BCCList, false);
}
std::string TMailMessage::ReplyTo() const {
  return ReplyToList.Count() == 0 ? From() : addressView(ReplyToList, true);
}

void TMailMessage::SetFrom(std::string_view text) {
  ParseAddressList(text, FromList);
}
void TMailMessage::SetReplyTo(std::string_view text) {
  ParseAddressList(text, ReplyToList);
}
void TMailMessage::SetSendTo(std::string_view text) {
  ParseAddressList(text, SendToList);
}
void TMailMessage::SetCC(std::string_view text) {
  ParseAddressList(text, CCList);
}
void TMailMessage::SetBCC(std::string_view text) {
  ParseAddressList(text, BCCList);
}

std::string TMailMessage::FromName() const {
  return joinTrimmed(FromList, true);
}
std::string TMailMessage::FromAddress() const {
  return joinTrimmed(FromList, false);
}
std::string TMailMessage::SendToName() const {
  return joinTrimmed(SendToList, true);
}
std::string TMailMessage::SendToAddress() const {
  return joinTrimmed(SendToList, false);
}
std::string TMailMessage::CCName() const {
  return joinTrimmed(CCList, true);
}
std::string TMailMessage::CCAddress() const {
  return joinTrimmed(CCList, false);
}
std::string TMailMessage::BCCName() const {
  return joinTrimmed(BCCList, true);
}
std::string TMailMessage::BCCAddress() const {
  return joinTrimmed(BCCList, false);
}
std::string TMailMessage::ReplyToName() const {
  std::string names = joinTrimmed(ReplyToList, true);
  return names.empty() ? FromName() : names;
}
std::string TMailMessage::ReplyToAddress() const {
  std::string addresses = joinTrimmed(ReplyToList, false);
  return addresses.empty() ? FromAddress() : addresses;
}

void TMailMessage::LoadRawMail(TStringList lines) {
  RawMail = std::move(lines);
  Parse();
}

void TMailMessage::Parse() {
  if (RawMail.empty()) return;
  std::size_t headerCount = 0;
  while (headerCount < RawMail.size() && !isBlankLine(RawMail[headerCount]))
    ++headerCount;
  const std::span<const std::string> headerBlock(RawMail.data(), headerCount);
  // The fields are parsed from the received lines; Headers keeps a dense
  // copy of the block for whoever looks at it later.
  Headers.assign(headerBlock);
  const bool headerBlockOnly =
      std::all_of(RawMail.begin() + static_cast<std::ptrdiff_t>(headerCount), RawMail.end(),
                  [](const auto& l) { return l.empty(); });
  if (ClearRawMailAfterParse && headerBlockOnly) {
    // What a header check delivers. The empty lines after the block change
    // nothing for the body parse.
    const HeaderIndex index(headerBlock);
    if (headerCount > 0) parseHeaders(*this, index);
    ParseBody(*this, headerBlock, index, true);
  } else {
    if (headerCount > 0) parseHeaders(*this, HeaderIndex(headerBlock));
    ParseBody(*this, RawMail);
  }
  if (ClearRawMailAfterParse) {
    RawSize = static_cast<std::int32_t>(
        std::min<std::int64_t>(textLength(RawMail), std::numeric_limits<std::int32_t>::max()));
    // Released, not only emptied: a listed message keeps nothing of it.
    TStringList().swap(RawMail);
  } else {
    RawSize = 0;
  }
}

std::int64_t TMailMessage::RawMailSize() const {
  return RawSize != 0 ? RawSize : textLength(RawMail);
}

// ------------------------------------------------------------------ ownership

MessageOwner::MessageOwner() = default;
MessageOwner::~MessageOwner() = default;

TMailMessage& MessageOwner::CreateMessage() {
  owned_.push_back(std::make_unique<TMailMessage>());
  owned_.back()->owner_ = this;
  return *owned_.back();
}

void MessageOwner::DestroyMessage(TMailMessage& message) {
  if (message.owner_ != this) {
    throw std::invalid_argument("DestroyMessage: the message belongs to another owner");
  }
  if (message.listRefs_ > 0) {
    message.destroyWhenUnlisted_ = true;
  } else {
    destroyNow(message);
  }
}

std::size_t MessageOwner::ReleaseUnlisted() {
  return std::erase_if(owned_, [](const auto& m) { return m->listRefs_ == 0; });
}

void MessageOwner::destroyNow(TMailMessage& message) {
  std::erase_if(owned_, [&](const auto& m) { return m.get() == &message; });
}

TMailMessageList::~TMailMessageList() {
  Clear();
}

std::size_t TMailMessageList::Add(TMailMessage& message) {
  if (message.owner_ == nullptr) {
    throw std::invalid_argument("TMailMessageList::Add: only owned messages can be listed");
  }
  items_.push_back(&message);
  ++message.listRefs_;
  return items_.size() - 1;
}

void TMailMessageList::Clear() {
  std::vector<TMailMessage*> items;
  items.swap(items_);
  for (TMailMessage* m : items)
    release(*m);
}

void TMailMessageList::Delete(std::size_t index) {
  TMailMessage& message = *items_.at(index);
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  --message.listRefs_;
  // Listed elsewhere as well, the message lives on until that list lets go.
  message.owner_->DestroyMessage(message);
}

void TMailMessageList::release(TMailMessage& message) {
  if (--message.listRefs_ == 0 && message.destroyWhenUnlisted_) {
    message.owner_->destroyNow(message);
  }
}

}  // namespace kelvrin::mail
