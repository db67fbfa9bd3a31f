#include "demo_text.h"

namespace kelvrin::demo {

namespace {

char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c) {
  const std::size_t at = kAlphabet.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = upper(c);
  return out;
}

CommandLine splitCommand(std::string_view line) {
  const std::size_t blank = line.find(' ');
  CommandLine cmd;
  cmd.verb = upperAscii(line.substr(0, blank));
  if (blank != std::string_view::npos) {
    cmd.rawArgument = std::string(line.substr(blank + 1));
    std::string_view rest = line.substr(blank);
    while (!rest.empty() && rest.front() == ' ')
      rest.remove_prefix(1);
    cmd.argument = std::string(rest);
  }
  return cmd;
}

std::optional<std::uint64_t> parseNumber(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return n;
}

std::string base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    const auto b2 = static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[b0 >> 2];
    out += kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out += kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
    out += kAlphabet[b2 & 63];
  }
  if (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const bool two = i + 1 < bytes.size();
    const auto b1 = two ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    out += kAlphabet[b0 >> 2];
    out += kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out += two ? kAlphabet[(b1 & 15) << 2] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  while (!text.empty() && text.back() == '=')
    text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  unsigned accumulator = 0;
  int bits = 0;
  for (char c : text) {
    const int v = base64Value(c);
    if (v < 0) return std::nullopt;
    accumulator = (accumulator << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
    }
  }
  return out;
}

}  // namespace kelvrin::demo
