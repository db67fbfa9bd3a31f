#pragma once

// Header-block routines of the message model, shared by the MIME body parser
// and by anyone who needs to look at raw header lines (the scoring, the
// command mails). Positions in the text they describe are 1-based; here they
// are plain indices.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mail/header_lines.h"
#include "mail/mail_message.h"

namespace kelvrin::mail {

// Characters of code 32 and below count as blanks at either end.
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Whether text starts with prefix, ignoring ASCII case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// The first index of needle in text, ignoring ASCII case, or npos.
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from = 0);

// The first header called name ("FROM:", upper case with the colon) in the
// header block at the top of lines, with its continuation lines unfolded
// (each appended as one blank plus the trimmed line). The search stops at the
// first empty line and, when stopPrefix is not empty, at a line starting with
// it. Returns nullopt when there is no such header.
std::optional<std::string> FindHeader(std::string_view name, LinesView lines,
                                      std::string_view stopPrefix = {});

// FindHeader without copying: the text refers to the line itself unless the
// header is folded, so looking up the headers of a block allocates only for
// folded ones. Not copyable, because the text may point into the object.
class HeaderMatch {
 public:
  HeaderMatch() = default;
  HeaderMatch(const HeaderMatch&) = delete;
  HeaderMatch& operator=(const HeaderMatch&) = delete;

  bool Find(std::string_view name, LinesView lines, std::string_view stopPrefix = {});
  // The header starting at line first (continuation lines unfolded).
  void Take(LinesView lines, std::size_t first);
  void Reset() { found_ = false; }
  explicit operator bool() const { return found_; }
  std::string_view operator*() const { return text_; }

 private:
  bool found_ = false;
  std::string_view text_;
  std::string unfolded_;
};

// The first line of every header that the message model reads, found in one
// pass over a header block with FindHeader's rules. Parsing a header block
// asks for a dozen headers; one pass instead of one per header.
class HeaderIndex {
 public:
  enum Name {
    kFrom,
    kReturnPath,
    kReplyTo,
    kTo,
    kCc,
    kDate,
    kSubject,
    kMimeVersion,       // "MIME-VERSION:"
    kMimeVersionBlank,  // "MIME-VERSION: ", with the blank
    kContentType,
    kContentDisposition,
    kContentId,
    kContentTransferEncoding,
    kContentLocation,
    kNameCount
  };

  explicit HeaderIndex(LinesView lines);
  // The lines the index was made of.
  LinesView Lines() const { return lines_; }
  bool Has(Name name) const { return first_[name] != kAbsent; }
  // The line index where the header starts.
  std::optional<std::size_t> First(Name name) const {
    if (first_[name] == kAbsent) return std::nullopt;
    return first_[name];
  }
  // Whether the header exists and its text holds needle (ignoring case);
  // needle holds no blank, so it is looked for line by line, unfolding
  // nothing.
  bool Contains(Name name, std::string_view needle) const;
  // Fills match with the header, or resets it; returns whether it exists.
  bool Get(Name name, HeaderMatch& match) const;

 private:
  static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
  LinesView lines_;
  std::size_t first_[kNameCount];
};

// CollectAddressHeader for the header whose first line is lines[first]
// (nameLength: the length of "TO:").
std::vector<std::string> CollectAddressEntries(LinesView lines, std::size_t first,
                                               std::size_t nameLength);

// JoinAddressEntries(CollectAddressEntries(...)) in one pass.
std::string CollectAddressText(LinesView lines, std::size_t first, std::size_t nameLength);

// The normalised value after name in line (see header_parsing.cpp); empty
// when name does not occur.
std::string GetHeaderValue(std::string_view name, std::string_view line, bool cutAtSemicolon);

// The address entries of the first header called name ("TO", "CC") in
// headers, split at the commas outside quoted names. nullopt when absent.
std::optional<std::vector<std::string>> CollectAddressHeader(std::string_view name,
                                                             LinesView headers);
// Joins entries for ParseAddressList: a "," follows an entry holding an "@"
// when another entry follows; an entry without "@" (a group name) runs into
// the next one.
std::string JoinAddressEntries(const std::vector<std::string>& entries);

// Decodes RFC 2047 encoded words ("Q" and "B"), without charset conversion.
std::string DecodeHeaderText(std::string_view text);

// Parses an address text into list (which is cleared first).
void ParseAddressList(std::string_view text, TAddressList& list);
TMailAddress ParseAddress(std::string_view text);
// Trims, then removes double quotes at the start and at the end.
std::string StripQuotes(std::string_view text);

}  // namespace kelvrin::mail
