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
std::optional<std::string> FindHeader(std::string_view name, std::span<const std::string> lines,
                                      std::string_view stopPrefix = {});

// FindHeader without copying: the text refers to the line itself unless the
// header is folded, so looking up the headers of a block allocates only for
// folded ones. Not copyable, because the text may point into the object.
class HeaderMatch {
 public:
  HeaderMatch() = default;
  HeaderMatch(const HeaderMatch&) = delete;
  HeaderMatch& operator=(const HeaderMatch&) = delete;

  bool Find(std::string_view name, std::span<const std::string> lines,
            std::string_view stopPrefix = {});
  explicit operator bool() const { return found_; }
  std::string_view operator*() const { return text_; }

 private:
  bool found_ = false;
  std::string_view text_;
  std::string unfolded_;
};

// The normalised value after name in line (see header_parsing.cpp); empty
// when name does not occur.
std::string GetHeaderValue(std::string_view name, std::string_view line, bool cutAtSemicolon);

// The address entries of the first header called name ("TO", "CC") in
// headers, split at the commas outside quoted names. nullopt when absent.
std::optional<std::vector<std::string>> CollectAddressHeader(std::string_view name,
                                                             std::span<const std::string> headers);
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
