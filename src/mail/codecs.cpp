#include "mail/codecs.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "mail/mail_message.h"

namespace kelvrin::mail {
namespace {

constexpr std::uint8_t kPad = 64;
constexpr std::uint8_t kInvalid = 255;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& v : table)
    v = kInvalid;
  for (int i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<std::uint8_t>(i);
    table['a' + i] = static_cast<std::uint8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i)
    table['0' + i] = static_cast<std::uint8_t>(52 + i);
  table['+'] = 62;
  table['/'] = 63;
  table['='] = kPad;
  return table;
}

constexpr auto kDecodeTable = makeDecodeTable();
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes one group of four characters into out; returns the byte count.
// The arithmetic is 8-bit on purpose: characters outside the alphabet (255)
// give meaningless bytes instead of being skipped.
inline std::size_t decodeGroup(const char* group, unsigned char* out) {
  const std::uint8_t a = kDecodeTable[static_cast<unsigned char>(group[0])];
  const std::uint8_t b = kDecodeTable[static_cast<unsigned char>(group[1])];
  std::uint8_t c = kDecodeTable[static_cast<unsigned char>(group[2])];
  std::uint8_t d = kDecodeTable[static_cast<unsigned char>(group[3])];
  if (a == kPad) return 0;
  std::size_t n = 3;
  if (c == kPad) {
    c = 0;
    d = 0;
    n = 1;
  } else if (d == kPad) {
    d = 0;
    n = 2;
  }
  out[0] = static_cast<unsigned char>(a * 4 + b / 16);
  out[1] = static_cast<unsigned char>((b % 16) * 16 + c / 4);
  out[2] = static_cast<unsigned char>((c % 4) * 64 + d);
  return n;
}

}  // namespace

std::size_t TBase64DecodingStream::Write(const void* bytes, std::size_t count) {
  const char* in = static_cast<const char*>(bytes);
  // Output is collected in a local buffer so the destination sees a few large
  // writes instead of one per group.
  constexpr std::size_t kChunk = 16384;
  unsigned char out[kChunk + 3];
  std::size_t outLen = 0;
  std::size_t written = 0;

  auto flush = [&]() -> bool {
    if (outLen == 0) return true;
    if (!destination_.WriteBytes(reinterpret_cast<const char*>(out), outLen)) return false;
    written += outLen;
    outLen = 0;
    return true;
  };

  std::size_t i = 0;
  // Fast path: while no group is pending, take four clean characters at a time.
  while (i < count) {
    if (pendingCount_ == 0 && i + 4 <= count) {
      const char* g = in + i;
      if (g[0] != '\r' && g[0] != '\n' && g[1] != '\r' && g[1] != '\n' && g[2] != '\r' &&
          g[2] != '\n' && g[3] != '\r' && g[3] != '\n') {
        outLen += decodeGroup(g, out + outLen);
        i += 4;
        if (outLen >= kChunk && !flush()) {
          pendingCount_ = 0;
          return 0;
        }
        continue;
      }
    }
    const char ch = in[i++];
    if (ch == '\r' || ch == '\n') continue;
    pending_[pendingCount_++] = ch;
    if (pendingCount_ == 4) {
      pendingCount_ = 0;
      outLen += decodeGroup(pending_, out + outLen);
      if (outLen >= kChunk && !flush()) return 0;
    }
  }
  if (!flush()) {
    pendingCount_ = 0;
    return 0;
  }
  return written;
}

std::size_t TBase64DecodingStream::Read(void*, std::size_t) {
  throw MailError("Invalid stream operation");
}

std::size_t TBase64DecodingStream::Seek(long, int) {
  throw MailError("Invalid stream operation");
}

namespace {

// The shared quoted-printable scan over [text, text + length); returns the
// decoded length. Writing never overtakes reading, so it works in place.
std::size_t decodeQuotedPrintable(char* text, std::size_t length) {
  std::size_t r = 0;
  std::size_t w = 0;
  while (r < length) {
    const char c = text[r];
    if (c != '=') {
      text[w++] = c;
      ++r;
      continue;
    }
    if (r + 1 < length && (text[r + 1] == '\r' || text[r + 1] == '\n')) {
      // Soft line break. Only a CR LF pair is removed as a pair: a bare CR or
      // LF takes nothing of the next line with it.
      r += (text[r + 1] == '\r' && r + 2 < length && text[r + 2] == '\n') ? 3 : 2;
      continue;
    }
    if (r + 2 >= length) break;  // incomplete escape at the end: dropped
    const int hi = hexValue(text[r + 1]);
    const int lo = hexValue(text[r + 2]);
    text[w++] = (hi < 0 || lo < 0) ? '@' : static_cast<char>(hi * 16 + lo);
    r += 3;
  }
  return w;
}

}  // namespace

std::size_t TQPCodec::Decode(char* text) {
  const std::size_t n = decodeQuotedPrintable(text, std::strlen(text));
  text[n] = '\0';
  return n;
}

void TQPCodec::Decode(std::string& text) {
  text.resize(decodeQuotedPrintable(text.data(), text.size()));
}

std::string TBase64Codec::Encode(std::string_view data, bool lineBreaks) {
  if (data.empty()) throw MailError("Invalid Base64 String - Length:0");
  const std::size_t chars = (data.size() + 2) / 3 * 4;
  std::string out;
  out.reserve(chars + (lineBreaks ? chars / 76 * 2 : 0));
  std::size_t column = 0;
  auto put = [&](char c) {
    if (lineBreaks && column == 76) {
      out += "\r\n";
      column = 0;
    }
    out += c;
    ++column;
  };
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put(kAlphabet[v & 63]);
  }
  const std::size_t rest = data.size() - i;
  if (rest == 1) {
    const std::uint32_t v = p[i] << 16;
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put('=');
    put('=');
  } else if (rest == 2) {
    const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put('=');
  }
  return out;
}

}  // namespace kelvrin::mail
