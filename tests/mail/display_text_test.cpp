#include "mail/display_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mail/header_parsing.h"

namespace kelvrin::mail {
namespace {

// ------------------------------------------------- the table from Python

struct DisplayCase {
  std::string kind;  // "header" or "body"
  std::string name;
  std::string contentType;
  std::string input;
  std::string expected;
  std::string rule;
};

std::string fromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<DisplayCase> loadCases() {
  std::ifstream in(std::string(KELVRIN_SOURCE_DIR) + "/tests/mail/data/display_text_cases.txt");
  std::vector<DisplayCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');)
      fields.push_back(field);
    if (fields.size() != 6) continue;
    cases.push_back({fields[0], fields[1], fields[2] == "-" ? "" : fields[2], fromHex(fields[3]),
                     fromHex(fields[4]), fields[5]});
  }
  return cases;
}

class DisplayTextTable : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayTextTable, GivesWhatPythonGivesOrOurStatedRule) {
  const DisplayCase& c = GetParam();
  const std::string got =
      c.kind == "header" ? HeaderDisplayText(c.input) : BodyDisplayText(c.input, c.contentType);
  EXPECT_EQ(got, c.expected) << c.name << " (rule: " << c.rule << ")";
}

INSTANTIATE_TEST_SUITE_P(GeneratedCases, DisplayTextTable, testing::ValuesIn(loadCases()),
                         [](const testing::TestParamInfo<DisplayCase>& info) {
                           std::string name = info.param.kind + "_";
                           for (char c : info.param.name)
                             name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
                           return name;
                         });

TEST(DisplayTextTable, DataFileCoversEveryCharsetItPromises) {
  const auto cases = loadCases();
  ASSERT_GE(cases.size(), 50u);
  for (const char* charset : {"ISO-8859-1", "ISO-8859-2", "ISO-8859-7", "windows-1252", "KOI8-R",
                              "ISO-2022-JP", "GB2312", "UTF-8"}) {
    bool found = false;
    for (const auto& c : cases)
      found = found || FindNoCase(c.input + c.contentType, charset) != std::string::npos;
    EXPECT_TRUE(found) << charset;
  }
}

// ---------------------------------------------------------------- bounds

bool validUtf8WithoutControls(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (c >= 0x80 && c < 0xC2) return false;
    if (i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return false;
    i += n;
  }
  return true;
}

std::string repeated(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i)
    out += piece;
  return out;
}

struct BoundCase {
  const char* name;
  std::string header;
};

class HeaderDisplayBounds : public testing::TestWithParam<BoundCase> {};

TEST_P(HeaderDisplayBounds, StaysBoundedValidAndFreeOfControls) {
  const std::string got = HeaderDisplayText(GetParam().header);
  EXPECT_LE(got.size(), kMaxHeaderDisplayBytes);
  EXPECT_TRUE(validUtf8WithoutControls(got));
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HeaderDisplayBounds,
    testing::Values(BoundCase{"many_words", repeated("=?UTF-8?B?8J+OiQ==?= ", 5000)},
                    BoundCase{"long_plain_latin1", repeated("\xE9t\xE9 ", 5000)},
                    BoundCase{"long_word", "=?UTF-8?Q?" + repeated("=E2=82=AC", 20000) + "?="},
                    BoundCase{"cut_inside_a_character",
                              repeated("a", kMaxHeaderDisplayBytes - 1) + "\xE2\x82\xAC"},
                    BoundCase{"many_charsets",
                              [] {
                                std::string s;
                                for (int i = 0; i < 100; ++i)
                                  s += "=?x-made-up-" + std::to_string(i) + "?Q?=E9?= ";
                                return s;
                              }()},
                    BoundCase{"iconv_option_in_charset", "=?UTF-8//IGNORE?Q?a=FFb?="},
                    BoundCase{"raw_controls", std::string("a\x01\x1b[2J\x7f\xc2\x85z", 10)},
                    BoundCase{"truncated_shift", "=?ISO-2022-JP?B?GyRCJEskWw==?="}),
    [](const testing::TestParamInfo<BoundCase>& info) { return info.param.name; });

TEST(HeaderDisplayText, DecodesOnlyTheFirstWordsAndShowsTheRestAsWritten) {
  const std::string header = repeated("=?UTF-8?Q?x?= ", kMaxEncodedWords + 3);
  const std::string got = HeaderDisplayText(header);
  EXPECT_EQ(got.substr(0, kMaxEncodedWords), std::string(kMaxEncodedWords, 'x'));
  EXPECT_EQ(got.substr(kMaxEncodedWords), " =?UTF-8?Q?x?= =?UTF-8?Q?x?= =?UTF-8?Q?x?=");
}

TEST(HeaderDisplayText, CutsAtACharacterBoundary) {
  const std::string got =
      HeaderDisplayText(repeated("a", kMaxHeaderDisplayBytes - 1) + "\xE2\x82\xAC" + "tail");
  EXPECT_EQ(got, repeated("a", kMaxHeaderDisplayBytes - 1));
}

TEST(HeaderDisplayText, AnIconvOptionInTheCharsetIsNotHonoured) {
  // "//IGNORE" would make iconv drop the bad byte; the name is refused and
  // the bytes are read as Windows-1252.
  EXPECT_EQ(HeaderDisplayText("=?UTF-8//IGNORE?Q?a=E9b?="),
            "a\xC3\xA9"
            "b");
}

// ---------------------------------------------------------- charset parameter

TEST(CharsetParameter, FindsTheParameterWhereverItStands) {
  const std::pair<const char*, const char*> cases[] = {
      {"text/plain; charset=ISO-8859-2", "iso-8859-2"},
      {"TEXT/PLAIN; FORMAT=FLOWED; CHARSET=\"KOI8-R\"; DELSP=YES", "koi8-r"},
      {"text/plain;charset = utf-8 ", "utf-8"},
      {"text/plain; x-charset=koi8-r", ""},
      {"text/charset; name=a", ""},
      {"text/plain", ""},
      {"text/plain; charset=", ""},
      {"text/plain; charset=\"unterminated", "unterminated"},
  };
  for (const auto& [contentType, expected] : cases)
    EXPECT_EQ(CharsetParameter(contentType), expected) << contentType;
}

// ----------------------------------------------------- a parsed message

TStringList linesOf(std::string_view text) {
  TStringList lines;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t end = text.find('\n', pos);
    lines.emplace_back(text.substr(pos, end - pos));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return lines;
}

TEST(DisplayHeaders, DecodesTheRowsAndLeavesTheScoredBytesAlone) {
  TMailMessage m;
  m.LoadRawMail(
      linesOf("From: =?KOI8-R?B?6dfBzg==?= <ivan@example.ru>\n"
              "To: =?ISO-8859-1?Q?J=F6rg?= <j@example.de>, plain@example.org\n"
              "Subject: =?us-ascii?Q?Last_chance:_50%_off?=\n"
              "Date: Wed, 9 Dec 2026 10:00:00 +0100\n"));
  const MessageDisplay d = DisplayHeaders(m);
  EXPECT_EQ(d.From, "\"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\" <ivan@example.ru>");  // "Иван"
  EXPECT_EQ(d.SendTo, "\"J\xC3\xB6rg\" <j@example.de>,<plain@example.org>");
  EXPECT_EQ(d.Subject, "Last chance: 50% off");
  EXPECT_EQ(d.Date, "Wed, 9 Dec 2026 10:00:00 +0100");
  EXPECT_EQ(DisplayFrom(m), d.From);
  // What the scoring sees stays as the message decoded it.
  EXPECT_EQ(m.Subject, "Last_chance:_50%_off");
  EXPECT_EQ(m.From(), "\"\xE9\xD7\xC1\xCE\" <ivan@example.ru>");
  EXPECT_EQ(m.SendTo(), "\"=?ISO-8859-1?Q?J=F6rg?=\" <j@example.de>,<plain@example.org>");
}

TEST(DisplayTextLines, ConvertsEachPartFromItsOwnCharset) {
  TMailMessage m;
  m.LoadRawMail(
      linesOf("From: a@example.org\n"
              "MIME-Version: 1.0\n"
              "Content-Type: multipart/mixed; boundary=\"b\"\n"
              "\n"
              "--b\n"
              "Content-Type: text/plain; charset=iso-8859-7\n"
              "\n"
              "\xE3\xE5\xE9\xDC\n"
              "\n"
              "--b\n"
              "Content-Type: text/plain; charset=koi8-r\n"
              "Content-Transfer-Encoding: quoted-printable\n"
              "\n"
              "=F0=D2=C9=D7=C5=D4\n"
              "--b--\n"));
  ASSERT_EQ(m.TextRuns.size(), 2u);
  const TStringList lines = DisplayTextLines(m);
  ASSERT_EQ(lines.size(), m.Text.size());
  EXPECT_EQ(lines.front(), "\xCE\xB3\xCE\xB5\xCE\xB9\xCE\xAC");  // "γειά"
  bool sawRussian = false;
  for (const auto& line : lines)
    sawRussian = sawRussian || line == "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
  EXPECT_TRUE(sawRussian);  // "Привет"
}

TEST(DisplayTextLines, TextOfNoDeclaredTypeFollowsTheEightBitRule) {
  TMailMessage m;
  m.LoadRawMail(linesOf("Subject: x\n\ncaf\xE9\n\nna\xC3\xAFve"));
  const TStringList lines = DisplayTextLines(m);
  ASSERT_EQ(lines.size(), m.Text.size());
  EXPECT_EQ(lines.front(), "caf\xC3\xA9");
  // The whole undeclared text is not UTF-8, so all of it reads as
  // Windows-1252.
  EXPECT_EQ(lines.back(), "na\xC3\x83\xC2\xAFve");
}

}  // namespace
}  // namespace kelvrin::mail
