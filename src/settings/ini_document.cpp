#include "settings/ini_document.h"

#include <charconv>
#include <limits>

#include "base/ascii_text.h"
#include "settings/settings_error.h"

namespace kelvrin::settings {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t npos = std::string::npos;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

bool hasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

void checkSectionName(std::string_view section) {
  if (section.empty() || trimBlanks(section) != section || hasLineBreak(section) ||
      section.find(']') != std::string_view::npos) {
    throw SettingsError("Invalid settings section name \"" + std::string(section) + "\"");
  }
}

void checkKeyName(std::string_view key) {
  if (key.empty() || trimBlanks(key) != key || hasLineBreak(key) ||
      key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';') {
    throw SettingsError("Invalid settings key name \"" + std::string(key) + "\"");
  }
}

// A line as a fault report quotes it: cut short, with every byte that is not
// printable ASCII written as \xNN.
std::string quotedLine(std::string_view text) {
  constexpr std::size_t kShown = 40;
  static const char* kHex = "0123456789ABCDEF";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  out += text.size() > kShown ? "\"..." : "\"";
  return out;
}

}  // namespace

bool iniNameEquals(std::string_view a, std::string_view b) {
  return base::equalFoldingAscii(a, b);
}

std::string iniValueText(std::string_view rawAfterEquals) {
  std::string_view v = trimBlanks(rawAfterEquals);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  if (v.size() > kMaxIniValueLength) v = v.substr(0, kMaxIniValueLength);
  return std::string(v);
}

std::string exactIniValue(std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    throw SettingsError("it holds a line break, which the settings file cannot hold");
  }
  if (value.find('\0') != std::string_view::npos) {
    throw SettingsError("it holds a NUL byte, which the settings file cannot hold");
  }
  if (value.size() > kMaxIniValueLength) {
    throw SettingsError("it is " + std::to_string(value.size()) +
                        " bytes long; the settings file holds at most " +
                        std::to_string(kMaxIniValueLength));
  }
  const bool trimmed = !value.empty() && (isBlank(value.front()) || isBlank(value.back()));
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (trimmed || quoted) return "\"" + std::string(value) + "\"";
  return std::string(value);
}

std::string sanitizeIniValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\r') {
      if (i + 1 < value.size() && value[i + 1] == '\n') ++i;
      out.push_back(' ');
    } else if (c == '\n') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::optional<int> parseIniInteger(std::string_view text) {
  text = trimBlanks(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  int result = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return result;
}

IniDocument::Line IniDocument::classify(std::string text) {
  Line line;
  const std::string_view t = trimBlanks(text);
  if (t.empty()) {
    line.kind = LineKind::Blank;
  } else if (t.front() == ';') {
    line.kind = LineKind::Comment;
  } else if (t.front() == '[') {
    line.kind = LineKind::Section;
    const std::size_t close = t.find(']');
    line.name = std::string(trimBlanks(t.substr(1, close == npos ? npos : close - 1)));
  } else if (const std::size_t eq = t.find('='); eq != npos) {
    line.kind = LineKind::Key;
    line.name = std::string(trimBlanks(t.substr(0, eq)));
  }
  line.text = std::move(text);
  return line;
}

IniDocument IniDocument::parse(std::string_view content) {
  IniDocument doc;
  if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    doc.byteOrderMark_ = true;
    content.remove_prefix(kByteOrderMark.size());
  }
  bool eolKnown = false;
  while (!content.empty()) {
    std::size_t nl = content.find('\n');
    std::string_view raw = content.substr(0, nl);
    content.remove_prefix(nl == npos ? content.size() : nl + 1);
    const bool crlf = !raw.empty() && raw.back() == '\r';
    if (crlf) raw.remove_suffix(1);
    if (!eolKnown && nl != npos) {
      doc.eol_ = crlf ? "\r\n" : "\n";
      eolKnown = true;
    }
    doc.lines_.push_back(classify(std::string(raw)));
  }
  return doc;
}

std::string IniDocument::serialize() const {
  std::string out;
  if (byteOrderMark_) out.append(kByteOrderMark);
  for (const Line& line : lines_) {
    out.append(line.text);
    out.append(eol_);
  }
  return out;
}

std::size_t IniDocument::findSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::Section && iniNameEquals(lines_[i].name, section)) return i;
  }
  return npos;
}

std::size_t IniDocument::sectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != LineKind::Section)
    ++i;
  return i;
}

std::size_t IniDocument::findKey(std::size_t header, std::string_view key) const {
  const std::size_t end = sectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind == LineKind::Key && iniNameEquals(lines_[i].name, key)) return i;
  }
  return npos;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
  const std::size_t header = findSection(section);
  if (header == npos) return std::nullopt;
  const std::size_t at = findKey(header, key);
  if (at == npos) return std::nullopt;
  const std::string& text = lines_[at].text;
  return iniValueText(std::string_view(text).substr(text.find('=') + 1));
}

std::string IniDocument::readString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  if (auto v = value(section, key)) return *std::move(v);
  return std::string(defaultValue);
}

int IniDocument::readInteger(std::string_view section, std::string_view key,
                             int defaultValue) const {
  const auto v = value(section, key);
  if (!v) return defaultValue;
  return parseIniInteger(*v).value_or(defaultValue);
}

bool IniDocument::readBool(std::string_view section, std::string_view key,
                           bool defaultValue) const {
  return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniDocument::hasSection(std::string_view section) const {
  return findSection(section) != npos;
}

std::vector<std::string> IniDocument::keys(std::string_view section) const {
  std::vector<std::string> result;
  const std::size_t header = findSection(section);
  if (header == npos) return result;
  const std::size_t end = sectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind != LineKind::Key) continue;
    bool seen = false;
    for (const std::string& k : result)
      seen = seen || iniNameEquals(k, lines_[i].name);
    if (!seen) result.push_back(lines_[i].name);
  }
  return result;
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  checkSectionName(section);
  checkKeyName(key);
  std::string text = std::string(key) + "=" + sanitizeIniValue(value);
  std::size_t header = findSection(section);
  if (header == npos) {
    if (!lines_.empty() && lines_.back().kind != LineKind::Blank) {
      lines_.push_back(classify(std::string()));
    }
    lines_.push_back(classify("[" + std::string(section) + "]"));
    lines_.push_back(classify(std::move(text)));
    return;
  }
  if (const std::size_t at = findKey(header, key); at != npos) {
    lines_[at] = classify(std::move(text));
    return;
  }
  // After the section's last non-blank line, so that the blank line that
  // separates it from the next section stays where it is.
  std::size_t insertAt = sectionEnd(header);
  while (insertAt > header + 1 && lines_[insertAt - 1].kind == LineKind::Blank)
    --insertAt;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), classify(std::move(text)));
}

void IniDocument::writeInteger(std::string_view section, std::string_view key, int value) {
  set(section, key, std::to_string(value));
}

void IniDocument::writeBool(std::string_view section, std::string_view key, bool value) {
  set(section, key, value ? "1" : "0");
}

std::vector<std::string> IniDocument::problems() const {
  std::vector<std::string> found;
  // A garbled file can have a fault on every line; the first few say enough.
  constexpr std::size_t kMaxReported = 10;
  bool inSection = false;
  std::size_t faults = 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    std::string what;
    if (line.text.find('\0') != std::string::npos) {
      what = "holds NUL bytes (this is not a text file)";
    } else if (line.kind == LineKind::Other) {
      what = "is neither a [section] header, a key=value line nor a ;comment";
    } else if (line.kind == LineKind::Section) {
      inSection = true;
      if (line.text.find(']') == std::string::npos) what = "is a section header without its \"]\"";
    } else if (line.kind == LineKind::Key && !inSection) {
      what = "is a key outside any [section]";
    }
    if (what.empty()) continue;
    if (++faults > kMaxReported) continue;
    found.push_back("line " + std::to_string(i + 1) + " " + what + ": " + quotedLine(line.text));
  }
  if (faults > kMaxReported) {
    found.push_back("and " + std::to_string(faults - kMaxReported) + " more such lines");
  }
  return found;
}

bool IniDocument::removeKey(std::string_view section, std::string_view key) {
  const std::size_t header = findSection(section);
  if (header == npos) return false;
  const std::size_t at = findKey(header, key);
  if (at == npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

bool IniDocument::removeSection(std::string_view section) {
  const std::size_t header = findSection(section);
  if (header == npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
               lines_.begin() + static_cast<std::ptrdiff_t>(sectionEnd(header)));
  return true;
}

}  // namespace kelvrin::settings
