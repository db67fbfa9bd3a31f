#include "cli/text_output.h"

#include <cstdint>

#include "mail/display_text.h"

namespace kelvrin::cli {

namespace {

void appendLatin1(std::string& out, unsigned char c) {
  out.push_back(static_cast<char>(0xC0 | (c >> 6)));
  out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

std::string jsonLiteral(std::string_view bytes, bool utf8) {
  static const char* kHex = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else if (c >= 0x80 && !utf8) {
          appendLatin1(out, c);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += "\"";
  return out;
}

}  // namespace

std::string jsonString(std::string_view bytes) {
  return jsonLiteral(bytes, false);
}

std::string jsonUtf8String(std::string_view utf8) {
  return jsonLiteral(utf8, mail::IsValidUtf8(utf8));
}

std::string terminalText(std::string_view bytes, bool keepLineBreaks) {
  const bool utf8 = mail::IsValidUtf8(bytes);
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      out.push_back(keepLineBreaks ? '\n' : ' ');
    } else if (c < 0x20 || c == 0x7F) {
      out.push_back(' ');
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (utf8) {
      const std::size_t n = mail::Utf8SequenceLength(bytes, i);
      // U+0080-U+009F (C2 80 - C2 9F) are the C1 controls: CSI, OSC and
      // their kin drive some terminals as their escape sequences do.
      if (n == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9F) {
        out.push_back(' ');
      } else {
        out.append(bytes.substr(i, n));
      }
      i += n - 1;
    } else if (c <= 0x9F) {
      out.push_back(' ');  // a C1 control as Latin-1
    } else {
      appendLatin1(out, c);
    }
  }
  return out;
}

std::size_t displayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (char ch : utf8) {
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string fitColumn(std::string_view utf8, std::size_t width) {
  if (displayWidth(utf8) <= width) {
    std::string out(utf8);
    out.append(width - displayWidth(utf8), ' ');
    return out;
  }
  std::string out;
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xC0) != 0x80) {
      if (count + 1 == width) break;
      ++count;
    }
    out.push_back(static_cast<char>(c));
  }
  out += "~";
  return out;
}

}  // namespace kelvrin::cli
