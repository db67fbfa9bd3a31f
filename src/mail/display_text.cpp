#include "mail/display_text.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "mail/header_parsing.h"
#include "mail/mime_body.h"

namespace kelvrin::mail {

std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  std::uint32_t cp = 0;
  std::uint32_t min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    cp = c & 0x1F;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    cp = c & 0x0F;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    cp = c & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto cc = static_cast<unsigned char>(text[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = Utf8SequenceLength(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

namespace {

// Header values longer than this are not looked at further: their display
// text is cut long before.
constexpr std::size_t kMaxHeaderInput = 4 * kMaxHeaderDisplayBytes;

// --------------------------------------------------------------- UTF-8

void appendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool plainAscii(std::string_view text) {
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

// Appends valid UTF-8 with every control character (C0, DEL, C1) made a
// blank; in a body, line breaks and tabs stay.
void appendSanitised(std::string& out, std::string_view utf8, bool keepLines) {
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) {
      const bool kept = keepLines && (c == '\r' || c == '\n' || c == '\t');
      out.push_back(kept ? static_cast<char>(c) : ' ');
    } else if (c == 0xC2 && i + 1 < utf8.size() &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      // U+0080-U+009F, the C1 controls: terminals take some of them as the
      // start of an escape sequence.
      out.push_back(' ');
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

// --------------------------------------------------------- Windows-1252

// 0x80-0x9F; the five bytes the code page leaves undefined read as U+FFFD.
constexpr std::array<std::uint16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

void appendCp1252(std::string& out, std::string_view bytes) {
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0xA0) {
      appendCodePoint(out, kCp1252High[c - 0x80]);
    } else {
      appendCodePoint(out, c);
    }
  }
}

// Text of no declared charset: UTF-8 when it is valid UTF-8.
void appendUndeclared(std::string& out, std::string_view bytes, bool keepLines) {
  if (IsValidUtf8(bytes)) {
    appendSanitised(out, bytes, keepLines);
    return;
  }
  std::string converted;
  converted.reserve(bytes.size() * 2);
  appendCp1252(converted, bytes);
  appendSanitised(out, converted, keepLines);
}

// ------------------------------------------------------------- charsets

enum class CharsetKind { Utf8, Cp1252, Iconv };

// A charset name as iconv may be asked for it: lower case, without an RFC
// 2231 language suffix ("utf-8*en"). Empty when the name holds anything but
// letters, digits and "-_.:+()" — a "/" would let the sender choose iconv's
// own options.
std::string normaliseCharset(std::string_view name) {
  const std::size_t star = name.find('*');
  if (star != std::string_view::npos) name = name.substr(0, star);
  name = TrimView(name);
  if (name.empty() || name.size() > 40) return {};
  std::string out;
  out.reserve(name.size());
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') {
      out.push_back(static_cast<char>(c - 'A' + 'a'));
    } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.' || c == ':' || c == '+' || c == '(' || c == ')') {
      out.push_back(static_cast<char>(c));
    } else {
      return {};
    }
  }
  return out;
}

CharsetKind kindOf(std::string_view charset) {
  if (charset == "utf-8" || charset == "utf8") return CharsetKind::Utf8;
  if (charset == "iso-8859-1" || charset == "iso8859-1" || charset == "iso_8859-1" ||
      charset == "latin1" || charset == "l1" || charset == "us-ascii" || charset == "ascii" ||
      charset == "windows-1252" || charset == "cp1252") {
    return CharsetKind::Cp1252;
  }
  return CharsetKind::Iconv;
}

// Opened iconv converters to UTF-8, one per charset, kept for the thread's
// life: opening one costs far more than a conversion. A charset iconv does
// not know is remembered as such. The cache is small, because mail names
// few charsets, and is emptied when it is full so that hostile names cannot
// grow it.
class ConverterCache {
 public:
  ConverterCache() = default;
  ConverterCache(const ConverterCache&) = delete;
  ConverterCache& operator=(const ConverterCache&) = delete;
  ~ConverterCache() { clear(); }

  // The converter for charset, or nullptr when there is none.
  iconv_t* find(const std::string& charset) {
    for (Entry& e : entries_) {
      if (e.name == charset) return e.usable ? &e.cd : nullptr;
    }
    if (entries_.size() >= kCapacity) clear();
    Entry e;
    e.name = charset;
    e.cd = iconv_open("UTF-8", charset.c_str());
    e.usable = e.cd != reinterpret_cast<iconv_t>(-1);
    entries_.push_back(e);
    return e.usable ? &entries_.back().cd : nullptr;
  }

 private:
  static constexpr std::size_t kCapacity = 32;
  struct Entry {
    std::string name;
    iconv_t cd{};
    bool usable = false;
  };
  void clear() {
    for (Entry& e : entries_) {
      if (e.usable) iconv_close(e.cd);
    }
    entries_.clear();
  }
  std::vector<Entry> entries_;
};

ConverterCache& converters() {
  thread_local ConverterCache cache;
  return cache;
}

// Converts bytes with cd into out (UTF-8); false when they are not valid in
// the converter's charset, out then holding a part of them.
bool convertWith(iconv_t cd, std::string_view bytes, std::string& out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
  out.resize(bytes.size() * 3 + 16);
  // iconv's input is char* in glibc's declaration, but it does not write it.
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  std::size_t used = 0;
  for (bool flushing = false;;) {
    char* dst = out.data() + used;
    std::size_t outLeft = out.size() - used;
    const std::size_t rc = flushing ? iconv(cd, nullptr, nullptr, &dst, &outLeft)
                                    : iconv(cd, &in, &inLeft, &dst, &outLeft);
    used = out.size() - outLeft;
    if (rc != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      flushing = true;  // a stateful charset may owe a shift back
      continue;
    }
    if (errno != E2BIG) {
      out.resize(used);
      return false;
    }
    out.resize(out.size() * 2);
  }
  out.resize(used);
  return true;
}

// Appends bytes in the (normalised) charset as display text; an unknown
// charset or bytes not valid in it read as Windows-1252.
void appendInCharset(std::string& out, const std::string& charset, std::string_view bytes,
                     bool keepLines) {
  const CharsetKind kind = charset.empty() ? CharsetKind::Cp1252 : kindOf(charset);
  if (kind != CharsetKind::Iconv && plainAscii(bytes)) {
    out.append(bytes);
    return;
  }
  switch (kind) {
    case CharsetKind::Utf8:
      if (IsValidUtf8(bytes)) {
        appendSanitised(out, bytes, keepLines);
        return;
      }
      break;
    case CharsetKind::Cp1252:
      break;
    case CharsetKind::Iconv:
      if (iconv_t* cd = converters().find(charset)) {
        std::string converted;
        if (convertWith(*cd, bytes, converted) && IsValidUtf8(converted)) {
          appendSanitised(out, converted, keepLines);
          return;
        }
      }
      break;
  }
  std::string converted;
  converted.reserve(bytes.size() * 2);
  appendCp1252(converted, bytes);
  appendSanitised(out, converted, keepLines);
}

// ---------------------------------------------------------- encoded words

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string decodeQ(std::string_view payload) {
  std::string out;
  out.reserve(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) {
    const char c = payload[i];
    if (c == '_') {
      out.push_back(' ');
    } else if (c == '=' && i + 2 < payload.size() && hexValue(payload[i + 1]) >= 0 &&
               hexValue(payload[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(payload[i + 1]) * 16 + hexValue(payload[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Characters outside the alphabet are skipped and the first "=" ends the
// data; missing padding is forgiven. A single character left over cannot
// stand for a byte: such a word is not decodable.
bool decodeB(std::string_view payload, std::string& out) {
  std::uint32_t bits = 0;
  int count = 0;
  std::size_t chars = 0;
  for (char c : payload) {
    if (c == '=') break;
    const int v = base64Value(c);
    if (v < 0) continue;
    ++chars;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return chars % 4 != 1;
}

struct EncodedWord {
  std::size_t begin = 0;
  std::size_t end = 0;  // after the closing "?="
  std::string_view charset;
  char letter = 0;  // 'B' or 'Q'
  std::string_view payload;
};

// The next encoded word "=?charset?B|Q?payload?=" at or after from.
bool nextEncodedWord(std::string_view text, std::size_t from, EncodedWord& word) {
  for (;;) {
    const std::size_t begin = text.find("=?", from);
    if (begin == std::string_view::npos) return false;
    const std::size_t mark = text.find('?', begin + 2);
    if (mark == std::string_view::npos || mark + 2 >= text.size()) return false;
    const char letter = static_cast<char>(text[mark + 1] & ~0x20);
    if ((letter != 'B' && letter != 'Q') || text[mark + 2] != '?') {
      from = begin + 1;
      continue;
    }
    const std::size_t close = text.find("?=", mark + 3);
    if (close == std::string_view::npos) return false;
    word.begin = begin;
    word.end = close + 2;
    word.charset = text.substr(begin + 2, mark - begin - 2);
    word.letter = letter;
    word.payload = text.substr(mark + 3, close - mark - 3);
    return true;
  }
}

bool onlyBlanks(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// Cuts UTF-8 text to at most limit bytes, at a character boundary.
void capUtf8(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  text.resize(cut);
}

std::string addressDisplay(std::string_view decodedValue) {
  TAddressList list;
  ParseAddressList(decodedValue, list);
  std::string out;
  for (const TMailAddress& a : list) {
    if (!out.empty()) out += ',';
    const std::string_view name = TrimView(a.Name);
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

}  // namespace

std::string HeaderDisplayText(std::string_view bytes) {
  std::string_view text = TrimView(bytes);
  if (text.size() > kMaxHeaderInput) text = text.substr(0, kMaxHeaderInput);
  if (text.find("=?") == std::string_view::npos && plainAscii(text)) {
    std::string out(text);
    capUtf8(out, kMaxHeaderDisplayBytes);
    return out;
  }

  std::string out;
  out.reserve(text.size() + text.size() / 2);
  // The decoded bytes of adjacent encoded words in one charset are converted
  // together: a sender may split a character, or an ISO-2022-JP shift,
  // across two words.
  std::string pendingCharset;
  std::string pending;
  bool havePending = false;
  const auto flush = [&] {
    if (havePending) appendInCharset(out, pendingCharset, pending, false);
    pending.clear();
    havePending = false;
  };

  std::size_t plainFrom = 0;  // start of the text not yet taken
  std::size_t searchFrom = 0;
  bool afterWord = false;
  std::size_t words = 0;
  EncodedWord word;
  while (words < kMaxEncodedWords && out.size() < kMaxHeaderDisplayBytes &&
         nextEncodedWord(text, searchFrom, word)) {
    std::string decoded;
    if (word.letter == 'Q') {
      decoded = decodeQ(word.payload);
    } else if (!decodeB(word.payload, decoded)) {
      searchFrom = word.end;  // shown as written, with the text around it
      continue;
    }
    ++words;
    const std::string_view between = text.substr(plainFrom, word.begin - plainFrom);
    const bool joined = afterWord && onlyBlanks(between);
    std::string charset = normaliseCharset(word.charset);
    if (!joined || charset != pendingCharset) flush();
    if (!joined) appendUndeclared(out, between, false);
    pendingCharset = std::move(charset);
    pending += decoded;
    havePending = true;
    afterWord = true;
    plainFrom = searchFrom = word.end;
  }
  flush();
  appendUndeclared(out, text.substr(plainFrom), false);
  capUtf8(out, kMaxHeaderDisplayBytes);
  return out;
}

std::string BodyDisplayText(std::string_view decodedBody, std::string_view contentType) {
  std::string out;
  out.reserve(decodedBody.size() + decodedBody.size() / 4);
  const std::string declared = CharsetParameter(contentType);
  if (declared.empty()) {
    appendUndeclared(out, decodedBody, true);
  } else {
    appendInCharset(out, normaliseCharset(declared), decodedBody, true);
  }
  return out;
}

std::string CharsetParameter(std::string_view contentType) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = FindNoCase(contentType, "charset", from);
    if (at == std::string_view::npos) return {};
    from = at + 7;
    // Only a parameter of that name counts, not "x-charset" or a type.
    const bool starts = at > 0 && (contentType[at - 1] == ';' || contentType[at - 1] == ' ' ||
                                   contentType[at - 1] == '\t');
    std::size_t i = from;
    while (i < contentType.size() && (contentType[i] == ' ' || contentType[i] == '\t'))
      ++i;
    if (!starts || i >= contentType.size() || contentType[i] != '=') continue;
    ++i;
    while (i < contentType.size() && (contentType[i] == ' ' || contentType[i] == '\t'))
      ++i;
    std::string_view value = contentType.substr(i);
    if (!value.empty() && value.front() == '"') {
      value.remove_prefix(1);
      value = value.substr(0, value.find('"'));
    } else {
      value = value.substr(0, value.find_first_of("; \t"));
    }
    return LowerCase(TrimView(value));
  }
}

namespace {

// Without an encoded word the views already hold the text as written; only
// their 8-bit bytes need reading. With one, the value is decoded first and
// then parsed as the message parsed its bytes.
std::string fromDisplay(const TMailMessage& message, const HeaderMatch& header) {
  if (header && (*header).find("=?") != std::string_view::npos) {
    return addressDisplay(HeaderDisplayText(GetHeaderValue("FROM:", *header, false)));
  }
  return HeaderDisplayText(message.From());
}

}  // namespace

MessageDisplay DisplayHeaders(const TMailMessage& message) {
  MessageDisplay display;
  const HeaderIndex index(message.Headers);
  HeaderMatch header;
  index.Get(HeaderIndex::kFrom, header);
  display.From = fromDisplay(message, header);
  if (auto to = index.First(HeaderIndex::kTo); to && index.Contains(HeaderIndex::kTo, "=?")) {
    display.SendTo = addressDisplay(HeaderDisplayText(CollectAddressText(message.Headers, *to, 3)));
  } else {
    display.SendTo = HeaderDisplayText(message.SendTo());
  }
  if (index.Get(HeaderIndex::kSubject, header)) {
    display.Subject = HeaderDisplayText((*header).substr(8));
  } else {
    display.Subject = HeaderDisplayText(message.Subject);
  }
  display.Date = HeaderDisplayText(message.DateText);
  return display;
}

std::string DisplayFrom(const TMailMessage& message) {
  HeaderMatch header;
  header.Find("FROM:", message.Headers);
  return fromDisplay(message, header);
}

TStringList DisplayTextLines(const TMailMessage& message) {
  TStringList lines;
  const TStringList& text = message.Text;
  std::size_t run = 0;
  std::size_t first = 0;
  while (first < text.size()) {
    while (run < message.TextRuns.size() && message.TextRuns[run].FirstLine <= first)
      ++run;
    // The lines up to the next run share one Content-Type: the run before
    // them, or none.
    const std::size_t last = run < message.TextRuns.size()
                                 ? std::min(message.TextRuns[run].FirstLine, text.size())
                                 : text.size();
    std::string_view contentType;
    if (run > 0) contentType = message.TextRuns[run - 1].ContentType;
    std::string joined;
    for (std::size_t i = first; i < last; ++i) {
      if (i > first) joined += "\r\n";
      joined += text[i];
    }
    // The lines were joined with CR LF, which every charset leaves as it is,
    // so the display has one line for each of them.
    const std::string display = BodyDisplayText(joined, contentType);
    std::size_t pos = 0;
    for (;;) {
      const std::size_t end = display.find("\r\n", pos);
      lines.push_back(display.substr(pos, end - pos));
      if (end == std::string::npos) break;
      pos = end + 2;
    }
    first = last;
  }
  return lines;
}

}  // namespace kelvrin::mail
