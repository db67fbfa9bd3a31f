#pragma once

// The body half of parsing a message: walks the MIME structure and spreads
// the content over Text, HTML and Attachments, decoding quoted-printable,
// Base64 and uuencoded data on the way.
//
// Every routine works on spans of the message's lines; removing lines from
// the top is moving the front of a span, so large messages cost one pass.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mail/codecs.h"
#include "mail/header_parsing.h"
#include "mail/mail_message.h"

namespace kelvrin::mail {

using LineSpan = std::span<const std::string>;

// Multipart entities nested deeper than this are not split further; such an
// entity is kept whole as one attachment, so hostile nesting can neither
// exhaust the stack nor take quadratic time.
inline constexpr int kMaxMultipartDepth = 64;

inline constexpr std::string_view kUUNoEndError = "Uuencoded attachment has no end line.";
inline constexpr std::string_view kUUBadCharError = "Oops...";

struct PartHeaders {
  std::string Disposition;  // upper case, "INLINE"
  std::string ContentID;
  std::string FileName;
  std::string Encoding;     // upper case, "BASE64"
  std::string ContentType;  // the whole value, upper case, with parameters
};

// Appends the body of lines (header block included; it is skipped) to the
// message's Text, HTML and Attachments. Throws MailError for a broken
// uuencoded block.
void ParseBody(TMailMessage& message, LineSpan lines);

// The same with the header index of lines already at hand; headerBlockOnly
// tells that lines hold no empty line, hence no body.
void ParseBody(TMailMessage& message, LineSpan lines, const HeaderIndex& index,
               bool headerBlockOnly = false);

PartHeaders ParsePartHeaders(LineSpan lines);
PartHeaders ParsePartHeaders(LineSpan lines, const HeaderIndex& index);
// Drops the header block at the top and the blank lines after it.
LineSpan StripHeaders(LineSpan lines);
// "--" and the boundary parameter of an unfolded Content-Type header line;
// nullopt when the line has no boundary parameter.
std::optional<std::string> GetBoundary(std::string_view headerLine);
// Appends the leaf parts of a multipart entity to parts, in document order,
// each starting with its own header block. Nested multiparts are flattened.
void SplitMultipart(LineSpan lines, std::vector<LineSpan>& parts, int depth = 0);

// The file name of a uuencode begin line ("begin 644 name"), or nullopt
// when line is none.
std::optional<std::string> UUBeginFileName(std::string_view line);
// Decodes the data lines of a uuencoded block (the begin line excluded) into
// sink. Throws MailError("Oops...") for a character outside the encoding.
void Uudecode(LineSpan lines, ByteSink& sink);

// Adds one attachment to the message and decodes its lines into Data.
void AddAttachment(TMailMessage& message, LineSpan lines, const PartHeaders& part);

// An attachment name that is safe to use as a file name in any folder: the
// characters \ / : * ? " < > | are removed, and so are leading dots.
std::string SanitiseAttachmentName(std::string_view name);

// Splits text into lines at CR LF, CR or LF; a final line break does not
// start another line.
void AppendTextLines(std::string_view text, TStringList& target);

}  // namespace kelvrin::mail
