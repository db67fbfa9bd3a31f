// Mail text on the terminal: nothing in a header can drive the terminal.

#include "cli/text_output.h"

#include <gtest/gtest.h>

namespace kelvrin::test {
namespace {

struct TerminalCase {
  const char* name;
  std::string bytes;
  bool keepLineBreaks;
  std::string shown;
  friend void PrintTo(const TerminalCase& c, std::ostream* os) { *os << c.name; }
};

class TerminalTextTest : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalTextTest, ShowsTextAndBlanksControls) {
  const TerminalCase& c = GetParam();
  EXPECT_EQ(cli::terminalText(c.bytes, c.keepLineBreaks), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TerminalTextTest,
    ::testing::Values(
        TerminalCase{"PlainAscii", "Lunch at 12?", false, "Lunch at 12?"},
        TerminalCase{"EscapeAndDel", "a\x1b[31mb\x7f", false, "a [31mb "},
        TerminalCase{"LineBreaksKept", "one\r\ntwo\rthree\nfour", true, "one\ntwo\nthree\nfour"},
        TerminalCase{"LineBreaksAsBlanks", "one\r\ntwo", false, "one two"},
        TerminalCase{"ValidUtf8AsItIs", "caf\xc3\xa9 \xe2\x82\xac", false,
                     "caf\xc3\xa9 \xe2\x82\xac"},
        TerminalCase{"Latin1AsItsCharacters", "caf\xe9 \xa0x", false, "caf\xc3\xa9 \xc2\xa0x"},
        // C1 controls: CSI (0x9B) and OSC (0x9D) start sequences on some
        // terminals just as ESC [ and ESC ] do.
        TerminalCase{"C1AsLatin1Bytes",
                     "a\x9b"
                     "31mb\x9d"
                     "0;t\x9c\x80\x9f",
                     false, "a 31mb 0;t   "},
        TerminalCase{"C1InUtf8",
                     "\xc3\xa9\xc2\x9b"
                     "31m\xc2\x9d\xc2\x80\xc2\x9f\xc2\xa0",
                     false, "\xc3\xa9 31m   \xc2\xa0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonUtf8String, KeepsUtf8CharactersAndEscapesControls) {
  const struct {
    std::string text, json;
  } cases[] = {
      {"caf\xc3\xa9 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
      {"a\"b\\c\r\n\x01", "\"a\\\"b\\\\c\\r\\n\\u0001\""},
      // Not UTF-8 after all: every byte as the character of its number, so
      // the output stays valid UTF-8.
      {"caf\xe9", "\"caf\xc3\xa9\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(cli::jsonUtf8String(c.text), c.json);
}

}  // namespace
}  // namespace kelvrin::test
