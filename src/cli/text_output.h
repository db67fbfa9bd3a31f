#pragma once

// How kelvrin-cli writes mail text: JSON strings (every byte 0x80-0xFF as the
// Unicode character of the same number, so the output is valid UTF-8 whatever
// the mail held) and terminal text (valid UTF-8 as it is, anything else as
// Latin-1, control characters made harmless), with the column layout of the
// message list.

#include <string>
#include <string_view>

namespace kelvrin::cli {

// A JSON string literal, quotes included.
std::string jsonString(std::string_view bytes);
// A JSON string literal of text that is already UTF-8 (display text): its
// characters go as they are; should it not be valid UTF-8 after all, it is
// written as jsonString writes bytes.
std::string jsonUtf8String(std::string_view utf8);

// Bytes as terminal text. Line breaks (CR, LF, CR LF) become LF when
// keepLineBreaks, a blank otherwise; other control characters (C0, DEL and
// C1, whether as Latin-1 bytes or UTF-8) become blanks.
std::string terminalText(std::string_view bytes, bool keepLineBreaks = false);

// Number of characters (code points) of UTF-8 text.
std::size_t displayWidth(std::string_view utf8);

// UTF-8 text cut or padded with blanks to exactly width characters; a cut
// text ends in "~".
std::string fitColumn(std::string_view utf8, std::size_t width);

}  // namespace kelvrin::cli
