#pragma once

// The parsed text of a private-profile (INI) file.
//
// Every line is kept as it stood, so that writing a key leaves comments,
// blank lines, unknown sections and the line-end style of a hand-edited file
// alone. Section and key names compare without regard to ASCII letter case;
// when a section or key occurs twice, the first occurrence counts (reads and
// writes alike).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::settings {

// Values longer than this are cut on reading, as the profile functions do.
inline constexpr std::size_t kMaxIniValueLength = 2047;

class IniDocument {
 public:
  // Accepts CR LF and LF line ends (and a UTF-8 byte-order mark).
  static IniDocument parse(std::string_view content);
  // The file text; new lines use the line end the file already had (LF for
  // a new file), and the file ends with a line end.
  std::string serialize() const;

  // The value as a read returns it: trimmed of blanks and tabs, without one
  // pair of enclosing double quotes, cut to kMaxIniValueLength characters.
  // Empty optional when the section or key is missing.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;

  std::string readString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Decimal with an optional sign; anything else (also an empty value or
  // one out of range) gives the default.
  int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // An integer where any non-zero value is true.
  bool readBool(std::string_view section, std::string_view key, bool defaultValue) const;

  bool hasSection(std::string_view section) const;
  // The key names of the section in file order (the first of duplicates).
  std::vector<std::string> keys(std::string_view section) const;

  // Sets a key, creating the section at the end when it is missing. The
  // value is stored with every line break replaced by one blank, so that a
  // value can never start a line of its own (a forged key or section).
  // Raises SettingsError for a section or key name that the file format
  // cannot hold (empty, surrounding blanks, "=", "]", line breaks ...).
  void set(std::string_view section, std::string_view key, std::string_view value);
  void writeString(std::string_view section, std::string_view key, std::string_view value) {
    set(section, key, value);
  }
  void writeInteger(std::string_view section, std::string_view key, int value);
  void writeBool(std::string_view section, std::string_view key, bool value);

  // Returns whether something was removed.
  bool removeKey(std::string_view section, std::string_view key);
  bool removeSection(std::string_view section);

  bool empty() const { return lines_.empty(); }

  // What a reader of the file cannot make sense of, one text per fault,
  // each naming its line ("line 3: ..."): lines that are neither a section
  // header, a key, a comment nor blank, section headers without their "]",
  // keys before the first section and NUL bytes. Reads skip such lines, so
  // these are reported, never raised.
  std::vector<std::string> problems() const;

 private:
  enum class LineKind { Other, Blank, Comment, Section, Key };
  struct Line {
    std::string text;  // as it stands in the file, without its line end
    LineKind kind = LineKind::Other;
    std::string name;  // section or key name, trimmed
  };

  static Line classify(std::string text);
  // Index of the header of the first section of that name, or npos.
  std::size_t findSection(std::string_view section) const;
  // One past the last line of the section that starts at `header`.
  std::size_t sectionEnd(std::size_t header) const;
  std::size_t findKey(std::size_t header, std::string_view key) const;

  std::vector<Line> lines_;
  std::string eol_ = "\n";
  bool byteOrderMark_ = false;
};

// The text a value line holds after "=": see IniDocument::value.
std::string iniValueText(std::string_view rawAfterEquals);
// A value as it is written: line breaks (CR LF, CR or LF) become one blank.
std::string sanitizeIniValue(std::string_view value);
// The text to write so that a read gives back exactly `value`: enclosed in
// double quotes when a read would otherwise trim its blanks or take its own
// enclosing quotes away, else unchanged. Raises SettingsError (saying why)
// for a value no line of the file can hold: one with a line break or a NUL
// byte, or longer than kMaxIniValueLength.
std::string exactIniValue(std::string_view value);
// Strict decimal parse used for integer and boolean keys.
std::optional<int> parseIniInteger(std::string_view text);
// ASCII case-insensitive equality, as the profile functions compare names.
bool iniNameEquals(std::string_view a, std::string_view b);

}  // namespace kelvrin::settings
