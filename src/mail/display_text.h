#pragma once

// Display text: what a person reads of a message, as UTF-8. The message
// model keeps the bytes as they arrived, and the scoring, the rule lists and
// every file work on those; display text is derived from them whenever a row
// is shown or printed and is never fed back.
//
// Headers: RFC 2047 encoded words are decoded ("B" and "Q", "_" a blank in
// "Q") and converted from their own charset; the blanks between two adjacent
// encoded words go (RFC 2047 section 6.2). A charset that cannot be
// converted, or bytes that are not valid in it, are read as Windows-1252;
// 8-bit text outside encoded words is taken as UTF-8 when it is valid UTF-8,
// else as Windows-1252. Text labelled ISO-8859-1 or US-ASCII is read as
// Windows-1252 too: senders write its typographic quotes under those labels,
// and ISO-8859-1 has only control characters where Windows-1252 has them.
// No control character survives (each becomes a blank), an encoded word that
// cannot be decoded is shown as written, and the result is bounded.
//
// Nothing here throws.

#include <cstddef>
#include <string>
#include <string_view>

#include "mail/mail_message.h"

namespace kelvrin::mail {

// Encoded words decoded in one header; later ones are shown as written.
inline constexpr std::size_t kMaxEncodedWords = 256;
// The longest display text of a header, in bytes of UTF-8; longer text is
// cut at a character boundary.
inline constexpr std::size_t kMaxHeaderDisplayBytes = 4096;

// The display text of a header value.
// Length of the valid UTF-8 sequence at text[i] (a byte of 0x80 or above),
// or 0. Overlong forms, surrogates and code points above U+10FFFF are invalid.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);
bool IsValidUtf8(std::string_view text);

std::string HeaderDisplayText(std::string_view bytes);

// The display text of a decoded body part whose Content-Type value (with
// parameters) is contentType; an empty one means none was declared. Line
// breaks and tabs stay; other control characters become blanks.
std::string BodyDisplayText(std::string_view decodedBody, std::string_view contentType);

// The charset parameter of a Content-Type value, in lower case without
// quotes; empty when there is none.
std::string CharsetParameter(std::string_view contentType);

// What the rows of the message view show of a message, derived from its
// header lines: the From and To views with their names decoded, the subject
// and the date.
struct MessageDisplay {
  std::string From;
  std::string SendTo;
  std::string Subject;
  std::string Date;
};
MessageDisplay DisplayHeaders(const TMailMessage& message);
std::string DisplayFrom(const TMailMessage& message);

// The message's Text lines as display text, each run converted from the
// charset of the part it came from.
TStringList DisplayTextLines(const TMailMessage& message);

}  // namespace kelvrin::mail
