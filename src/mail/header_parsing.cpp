#include "mail/header_parsing.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "mail/codecs.h"

namespace kelvrin::mail {
namespace {

constexpr auto npos = std::string_view::npos;

inline bool isBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

constexpr std::array<char, 256> makeUpperTable() {
  std::array<char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<std::size_t>(c)] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return table;
}

constexpr auto kUpper = makeUpperTable();

inline char upperAscii(char c) {
  return kUpper[static_cast<unsigned char>(c)];
}
inline char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

inline bool isFoldContinuation(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

constexpr std::array<bool, 256> makeNeedsDecision() {
  std::array<bool, 256> table{};
  for (int c = 0; c <= 32; ++c)
    table[c] = true;
  table['"'] = true;
  table['\\'] = true;
  table['<'] = true;
  table[','] = true;
  return table;
}

// Characters the normalising pass must look at outside angle brackets.
constexpr auto kNeedsDecision = makeNeedsDecision();

// The normalising pass over a header value: outside angle brackets control
// characters become blanks, runs of blanks collapse and a trailing blank
// goes, a backslash quotes the next character; inside angle brackets the
// text stays as it is. With kCommas, every comma that separates address
// entries (all but those met inside a quoted name outside angle brackets)
// is handed to onComma instead of being copied.
template <bool kCommas, class OnComma>
void normaliseInto(std::string_view v, std::string& out, OnComma&& onComma) {
  out.reserve(out.size() + v.size());
  bool inQuotes = false;
  bool inAngle = false;
  const std::size_t n = v.size();
  for (std::size_t i = 0; i < n; ++i) {
    // Runs of characters that need no decision are copied in one go.
    std::size_t j = i;
    if (inAngle) {
      if constexpr (kCommas) {
        while (j < n && v[j] != '>' && v[j] != ',')
          ++j;
      } else {
        const void* close = std::memchr(v.data() + j, '>', n - j);
        j = close == nullptr ? n
                             : static_cast<std::size_t>(static_cast<const char*>(close) - v.data());
      }
    } else {
      while (j < n) {
        const auto u = static_cast<unsigned char>(v[j]);
        if (!kNeedsDecision[u] || (u == ',' && !kCommas) ||
            (u == ' ' && j + 1 < n && static_cast<unsigned char>(v[j + 1]) > 32)) {
          ++j;
          continue;
        }
        break;
      }
    }
    if (j > i) {
      out.append(v.data() + i, j - i);
      i = j;
      if (i == n) break;
    }
    char c = v[i];
    if (inAngle) {
      if (kCommas && c == ',') {
        onComma(out);
        continue;
      }
      out += c;
      if (c == '>' && !inQuotes) inAngle = false;
      continue;
    }
    if (static_cast<unsigned char>(c) < 32) c = ' ';
    if (c == ' ') {
      const bool nextIsBlank =
          i + 1 < n && (v[i + 1] == ' ' || static_cast<unsigned char>(v[i + 1]) < 32);
      if (i + 1 == n || nextIsBlank) continue;
      out += c;
      continue;
    }
    if (c == '\\') {
      if (i + 1 < n) {
        if (kCommas && v[i + 1] == ',') {
          onComma(out);
        } else {
          out += v[i + 1];
        }
        ++i;
      }
      continue;
    }
    if (c == '"') {
      inQuotes = !inQuotes;
    } else if (c == '<' && !inQuotes) {
      inAngle = true;
    } else if (kCommas && c == ',' && !inQuotes) {
      onComma(out);
      continue;
    }
    out += c;
  }
}

std::string normaliseValue(std::string_view v) {
  std::string out;
  normaliseInto<false>(v, out, [](std::string&) {});
  return out;
}

// The text of an address header: its first line after the name and its
// continuation lines, each trimmed and joined with nothing between.
std::string_view addressHeaderText(LinesView lines, std::size_t first, std::size_t nameLength,
                                   std::string& storage) {
  const std::string_view head = TrimView(lines[first].substr(nameLength));
  if (first + 1 >= lines.size() || !isFoldContinuation(lines[first + 1])) return head;
  storage = head;
  for (std::size_t j = first + 1; j < lines.size() && isFoldContinuation(lines[j]); ++j) {
    storage += TrimView(lines[j]);
  }
  return storage;
}

std::string decodeEncodedWord(char letter, std::string_view payload) {
  std::string decoded;
  if (letter == 'Q') {
    decoded.assign(payload);
    TQPCodec::Decode(decoded);
  } else if (letter == 'B') {
    StringSink sink(decoded);
    TBase64DecodingStream decoder(sink);
    decoder.Write(payload.data(), payload.size());
  }
  return decoded;
}

}  // namespace

std::string_view TrimView(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && isBlankOrControl(text[b]))
    ++b;
  while (e > b && isBlankOrControl(text[e - 1]))
    --e;
  return text.substr(b, e - b);
}

std::string Trim(std::string_view text) {
  return std::string(TrimView(text));
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    // Branch-free, so the compiler can vectorise it.
    const auto u = static_cast<unsigned char>(c);
    c = static_cast<char>(u - (static_cast<unsigned char>(u - 'a') < 26 ? 32 : 0));
  }
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = lowerAscii(c);
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (upperAscii(text[i]) != upperAscii(prefix[i])) return false;
  }
  return true;
}

std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from <= text.size() ? from : npos;
  if (text.size() < needle.size()) return npos;
  const char upper = upperAscii(needle[0]);
  const char lower = lowerAscii(needle[0]);
  const std::size_t last = text.size() - needle.size();
  for (std::size_t i = from; i <= last; ++i) {
    const char c = text[i];
    if ((c == upper || c == lower) && StartsWithNoCase(text.substr(i), needle)) return i;
  }
  return npos;
}

namespace {

// The line index of the header called name in the block at the top of lines
// and the end of its continuation lines; false when there is none.
bool locateHeader(std::string_view name, LinesView lines, std::string_view stopPrefix,
                  std::size_t& first, std::size_t& end) {
  if (lines.empty() || name.empty()) return false;
  std::size_t i = 0;
  while (i + 1 < lines.size() && lines[i].empty())
    ++i;
  const char lead = upperAscii(name[0]);
  for (; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) return false;
    if (!stopPrefix.empty() && line.starts_with(stopPrefix)) return false;
    if (line.size() < name.size() || upperAscii(line[0]) != lead || !StartsWithNoCase(line, name)) {
      continue;
    }
    first = i;
    end = i + 1;
    while (end < lines.size() && isFoldContinuation(lines[end]))
      ++end;
    return true;
  }
  return false;
}

void unfold(LinesView lines, std::size_t first, std::size_t end, std::string& out) {
  out = lines[first];
  for (std::size_t j = first + 1; j < end; ++j) {
    out += ' ';
    out += TrimView(lines[j]);
  }
}

}  // namespace

std::optional<std::string> FindHeader(std::string_view name, LinesView lines,
                                      std::string_view stopPrefix) {
  std::size_t first = 0;
  std::size_t end = 0;
  if (!locateHeader(name, lines, stopPrefix, first, end)) return std::nullopt;
  std::string header;
  unfold(lines, first, end, header);
  return header;
}

bool HeaderMatch::Find(std::string_view name, LinesView lines, std::string_view stopPrefix) {
  std::size_t first = 0;
  std::size_t end = 0;
  if (!locateHeader(name, lines, stopPrefix, first, end)) {
    found_ = false;
    text_ = {};
    return false;
  }
  Take(lines, first);
  return true;
}

void HeaderMatch::Take(LinesView lines, std::size_t first) {
  found_ = true;
  std::size_t end = first + 1;
  while (end < lines.size() && isFoldContinuation(lines[end]))
    ++end;
  if (end == first + 1) {
    text_ = lines[first];
  } else {
    unfold(lines, first, end, unfolded_);
    text_ = unfolded_;
  }
}

namespace {

constexpr std::size_t kLongestIndexedName = 25;

}  // namespace

HeaderIndex::HeaderIndex(LinesView lines) : lines_(lines) {
  for (auto& f : first_)
    f = kAbsent;
  if (lines.empty()) return;
  std::size_t i = 0;
  while (i + 1 < lines.size() && lines[i].empty())
    ++i;
  for (; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) break;
    // Continuation lines and most other headers go at their first letter.
    const char lead = upperAscii(line[0]);
    if (lead != 'F' && lead != 'R' && lead != 'T' && lead != 'C' && lead != 'D' && lead != 'S' &&
        lead != 'M') {
      continue;
    }
    // A line starts with "NAME:" exactly when its text before the first
    // colon is NAME, as no indexed name holds a colon.
    const std::size_t limit = std::min(line.size(), kLongestIndexedName + 1);
    const auto* found = static_cast<const char*>(std::memchr(line.data(), ':', limit));
    if (found == nullptr) continue;
    const std::size_t colon = static_cast<std::size_t>(found - line.data());
    const std::string_view key = line.substr(0, colon);
    Name id = kNameCount;
    auto is = [&key](std::string_view name) { return StartsWithNoCase(key, name); };
    switch (colon) {
      case 2:
        id = is("TO") ? kTo : is("CC") ? kCc : kNameCount;
        break;
      case 4:
        id = is("FROM") ? kFrom : is("DATE") ? kDate : kNameCount;
        break;
      case 7:
        id = is("SUBJECT") ? kSubject : kNameCount;
        break;
      case 8:
        id = is("REPLY-TO") ? kReplyTo : kNameCount;
        break;
      case 10:
        id = is("CONTENT-ID") ? kContentId : kNameCount;
        break;
      case 11:
        id = is("RETURN-PATH") ? kReturnPath : kNameCount;
        break;
      case 12:
        id = is("MIME-VERSION") ? kMimeVersion : is("CONTENT-TYPE") ? kContentType : kNameCount;
        break;
      case 16:
        id = is("CONTENT-LOCATION") ? kContentLocation : kNameCount;
        break;
      case 19:
        id = is("CONTENT-DISPOSITION") ? kContentDisposition : kNameCount;
        break;
      case 25:
        id = is("CONTENT-TRANSFER-ENCODING") ? kContentTransferEncoding : kNameCount;
        break;
      default:
        break;
    }
    if (id == kNameCount) continue;
    if (first_[id] == kAbsent) first_[id] = i;
    if (id == kMimeVersion && first_[kMimeVersionBlank] == kAbsent && colon + 1 < line.size() &&
        line[colon + 1] == ' ') {
      first_[kMimeVersionBlank] = i;
    }
  }
}

bool HeaderIndex::Contains(Name name, std::string_view needle) const {
  const std::size_t first = first_[name];
  if (first == kAbsent) return false;
  if (FindNoCase(lines_[first], needle) != npos) return true;
  for (std::size_t j = first + 1; j < lines_.size() && isFoldContinuation(lines_[j]); ++j) {
    if (FindNoCase(lines_[j], needle) != npos) return true;
  }
  return false;
}

bool HeaderIndex::Get(Name name, HeaderMatch& match) const {
  if (first_[name] == kAbsent) {
    match.Reset();
    return false;
  }
  match.Take(lines_, first_[name]);
  return true;
}

std::string GetHeaderValue(std::string_view name, std::string_view line, bool cutAtSemicolon) {
  // Callers mostly hand in the header line itself, which starts with name.
  const std::size_t p = StartsWithNoCase(line, name) ? 0 : FindNoCase(line, name);
  if (p == npos) return {};
  std::string_view value = TrimView(line.substr(p + name.size()));
  if (cutAtSemicolon) {
    const std::size_t semicolon = value.find(';');
    if (semicolon != npos) value = TrimView(value.substr(0, semicolon));
  }
  return normaliseValue(value);
}

std::optional<std::vector<std::string>> CollectAddressHeader(std::string_view name,
                                                             LinesView headers) {
  const std::string key = UpperCase(name) + ":";
  for (std::size_t i = 0; i < headers.size(); ++i) {
    if (StartsWithNoCase(headers[i], key)) return CollectAddressEntries(headers, i, key.size());
  }
  return std::nullopt;
}

std::vector<std::string> CollectAddressEntries(LinesView lines, std::size_t first,
                                               std::size_t nameLength) {
  std::string storage;
  const std::string_view text = addressHeaderText(lines, first, nameLength, storage);
  std::vector<std::size_t> cuts;
  std::string value;
  normaliseInto<true>(text, value, [&cuts](std::string& out) {
    cuts.push_back(out.size());
    out += ',';
  });
  std::vector<std::string> entries;
  if (value.empty()) return entries;
  // The text is closed by a separating comma so that nothing after the last
  // one is lost.
  if (cuts.empty() || cuts.back() != value.size() - 1) cuts.push_back(value.size());
  entries.reserve(cuts.size());
  std::size_t start = 0;
  for (std::size_t cut : cuts) {
    entries.emplace_back(value, start, cut - start);
    start = cut + 1;
  }
  return entries;
}

std::string CollectAddressText(LinesView lines, std::size_t first, std::size_t nameLength) {
  std::string storage;
  const std::string_view text = addressHeaderText(lines, first, nameLength, storage);
  // The entries are joined while they are cut: a separating comma stays only
  // after an entry holding an "@", and not after the last entry.
  std::string out;
  std::size_t segmentStart = 0;
  std::size_t dropped = 0;
  std::size_t lastCut = std::string::npos;
  bool lastKept = false;
  normaliseInto<true>(text, out, [&](std::string& o) {
    lastCut = o.size() + dropped;
    lastKept = o.find('@', segmentStart) != std::string::npos;
    if (lastKept) {
      o += ',';
    } else {
      ++dropped;
    }
    segmentStart = o.size();
  });
  if (lastKept && lastCut + 1 == out.size() + dropped) out.pop_back();
  return out;
}

std::string JoinAddressEntries(const std::vector<std::string>& entries) {
  std::string joined;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    joined += entries[k];
    if (k + 1 < entries.size() && entries[k].find('@') != std::string::npos) joined += ',';
  }
  return joined;
}

std::string DecodeHeaderText(std::string_view text) {
  // The working text is buf[pos..] preceded by the settled text in out. Each
  // decoded word is written back into buf just before its suffix (it is
  // never longer than the encoded word it replaces), together with the last
  // character of its prefix, which could pair with the decoded text into a
  // new "=?". So the search resumes there instead of at the very beginning,
  // and long texts of many encoded words stay linear.
  const std::string_view trimmed = TrimView(text);
  if (trimmed.find("=?") == npos) return std::string(trimmed);
  std::string buf(trimmed);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t start = buf.find("=?", pos);
    if (start == npos) break;
    const std::size_t question = buf.find('?', start + 2);
    if (question == npos) break;
    const std::size_t payloadStart = question + 3;
    if (payloadStart > buf.size()) break;
    const std::size_t end = buf.find("?=", payloadStart);
    if (end == npos) break;
    const char letter = upperAscii(buf[question + 1]);
    const std::string decoded =
        decodeEncodedWord(letter, std::string_view(buf).substr(payloadStart, end - payloadStart));
    const std::size_t suffix = end + 2;
    const bool keepLast = start > pos;
    if (keepLast) out.append(buf, pos, start - pos - 1);
    const char last = keepLast ? buf[start - 1] : '\0';
    std::size_t w = suffix - decoded.size() - (keepLast ? 1 : 0);
    pos = w;
    if (keepLast) buf[w++] = last;
    std::copy(decoded.begin(), decoded.end(), buf.begin() + static_cast<std::ptrdiff_t>(w));
  }
  out.append(buf, pos);
  return out;
}

void ParseAddressList(std::string_view text, TAddressList& list) {
  list.Clear();
  // Mostly one address per "@"; an entry without one after the last is rare
  // and may grow the list. Every listed message keeps this room.
  list.Reserve(std::max<std::size_t>(
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '@')), 1));
  auto add = [&list](std::string_view entry) {
    TMailAddress address = ParseAddress(entry);
    if (!address.Address.empty()) list.Add(std::move(address));
  };
  // The rest of the text is text[cur..]. The next "@", "," and blank are
  // cached and only searched again once the rest has moved past them, so a
  // long list costs one pass.
  std::size_t cur = 0;
  std::size_t nextAt = text.find('@');
  std::size_t nextComma = text.find(',');
  std::size_t nextBlank = text.find(' ');
  auto refresh = [&](std::size_t& cached, char c) {
    if (cached != npos && cached < cur) cached = text.find(c, cur);
  };
  for (;;) {
    refresh(nextAt, '@');
    if (nextAt == npos) {
      add(text.substr(cur));
      return;
    }
    const std::size_t entryStart = cur;
    cur = nextAt + 1;
    refresh(nextComma, ',');
    refresh(nextBlank, ' ');
    // A blank cuts only when a comma follows somewhere: "a@b c@d" stays one
    // entry (a name that is itself an address).
    std::size_t cut = nextComma;
    if (nextBlank != npos) cut = nextComma == npos ? npos : std::min(nextComma, nextBlank);
    if (cut == npos) {
      add(text.substr(entryStart));
      return;
    }
    add(text.substr(entryStart, cut - entryStart));
    cur = cut + 1;
  }
}

TMailAddress ParseAddress(std::string_view text) {
  TMailAddress result;
  const std::string_view s = TrimView(text);
  const std::size_t at = s.find('@');
  const std::size_t paren = s.find('(');
  // Compared as 1-based positions where 0 means absent, so a "(" without any
  // "@" also takes this branch.
  const std::size_t atPos = at == npos ? 0 : at + 1;
  const std::size_t parenPos = paren == npos ? 0 : paren + 1;
  if (atPos < parenPos) {
    result.Address = StripQuotes(s.substr(0, paren));
    const std::size_t close = s.find(')', paren);
    result.Name = std::string(s.substr(paren, close == npos ? npos : close - paren + 1));
    return result;
  }
  const std::size_t lt = s.find('<');
  if (lt != npos) {
    const std::size_t gt = s.find('>', lt + 1);
    if (gt != npos) result.Address = StripQuotes(s.substr(lt + 1, gt - lt - 1));
    if (lt != 0) {
      if (gt == npos || gt + 1 == s.size()) {
        result.Name = StripQuotes(s.substr(0, lt));
      } else {
        std::string rest(s.substr(0, lt));
        rest += s.substr(gt + 1);
        result.Name = StripQuotes(rest);
      }
    }
    return result;
  }
  const std::size_t blank = s.rfind(' ');
  if (blank != npos) {
    result.Name = StripQuotes(s.substr(0, blank + 1));
    result.Address = StripQuotes(s.substr(blank + 1));
    return result;
  }
  result.Address = std::string(s);
  return result;
}

std::string StripQuotes(std::string_view text) {
  std::string_view s = TrimView(text);
  while (!s.empty() && s.front() == '"')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == '"')
    s.remove_suffix(1);
  return std::string(s);
}

}  // namespace kelvrin::mail
