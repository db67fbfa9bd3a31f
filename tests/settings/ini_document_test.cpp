#include "settings/ini_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings_error.h"

namespace kelvrin::settings {
namespace {

// One read against a fixed file text.
struct ReadCase {
  const char* label;
  std::string file;
  std::string section;
  std::string key;
  std::string expected;
};

class IniDocumentRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniDocumentRead, ReturnsTheValueAsTheProfileFunctionsDo) {
  const ReadCase& c = GetParam();
  EXPECT_EQ(IniDocument::parse(c.file).readString(c.section, c.key, "DEFAULT"), c.expected);
}

const std::string kLongValue(3000, 'v');

INSTANTIATE_TEST_SUITE_P(
    Semantics, IniDocumentRead,
    ::testing::Values(
        ReadCase{"SectionCaseIgnored", "[kvmain]\nSndEnable1=1\n", "KVmain", "SndEnable1", "1"},
        ReadCase{"KeyCaseIgnored", "[KVmain]\nSNDENABLE1=0\n", "KVmain", "sndenable1", "0"},
        ReadCase{"BlanksAroundNameAndValue", "[ KVmain ]\n  PopPort =   110  \n", "KVmain",
                 "PopPort", "110"},
        ReadCase{"TabsTrimmed", "[S]\nk=\t x \t\n", "S", "k", "x"},
        ReadCase{"EnclosingQuotesRemoved", "[S]\nk=\" spaced \"\n", "S", "k", " spaced "},
        ReadCase{"OneQuoteKept", "[S]\nk=\"open\n", "S", "k", "\"open"},
        ReadCase{"InnerQuotesKept", "[S]\nk=a \"b\" c\n", "S", "k", "a \"b\" c"},
        ReadCase{"EmptyValue", "[S]\nk=\n", "S", "k", ""},
        ReadCase{"EqualsInValueKept", "[S]\nk=a=b\n", "S", "k", "a=b"},
        ReadCase{"MissingKeyGivesDefault", "[S]\nother=1\n", "S", "k", "DEFAULT"},
        ReadCase{"MissingSectionGivesDefault", "[T]\nk=1\n", "S", "k", "DEFAULT"},
        ReadCase{"KeyOfAnotherSectionNotSeen", "[S]\n[T]\nk=1\n", "S", "k", "DEFAULT"},
        ReadCase{"KeyBeforeAnySectionNotSeen", "k=1\n[S]\n", "S", "k", "DEFAULT"},
        ReadCase{"FirstOfDuplicateKeys", "[S]\nk=first\nk=second\n", "S", "k", "first"},
        ReadCase{"FirstOfDuplicateSections", "[S]\nk=first\n[S]\nk=second\n", "S", "k", "first"},
        ReadCase{"CommentLineIsNoKey", "[S]\n;k=1\n", "S", "k", "DEFAULT"},
        ReadCase{"CrLfLineEnds", "[S]\r\nk=value\r\n", "S", "k", "value"},
        ReadCase{"LastLineWithoutLineEnd", "[S]\nk=value", "S", "k", "value"},
        ReadCase{"ByteOrderMarkIgnored", "\xEF\xBB\xBF[S]\nk=1\n", "S", "k", "1"},
        ReadCase{"HeaderWithoutClosingBracket", "[S\nk=1\n", "S", "k", "1"},
        ReadCase{"ReadCutTo2047", "[S]\nk=" + kLongValue + "\n", "S", "k", std::string(2047, 'v')}),
    [](const auto& info) { return std::string(info.param.label); });

struct NumberCase {
  const char* label;
  const char* stored;
  int expectedInteger;  // with default 42
  bool expectedBool;    // with default false
};

class IniDocumentNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(IniDocumentNumbers, ParseWithFallbackToTheDefault) {
  const NumberCase& c = GetParam();
  const IniDocument doc = IniDocument::parse(std::string("[S]\nk=") + c.stored + "\n");
  EXPECT_EQ(doc.readInteger("S", "k", 42), c.expectedInteger);
  EXPECT_EQ(doc.readBool("S", "k", false), c.expectedBool);
}

INSTANTIATE_TEST_SUITE_P(
    Semantics, IniDocumentNumbers,
    ::testing::Values(
        NumberCase{"One", "1", 1, true}, NumberCase{"Zero", "0", 0, false},
        NumberCase{"TwoIsChecked", "2", 2, true}, NumberCase{"NegativeIsChecked", "-7", -7, true},
        NumberCase{"PlusSign", "+12", 12, true}, NumberCase{"Blanks", "  30 ", 30, true},
        NumberCase{"Quoted", "\"5\"", 5, true}, NumberCase{"WordFallsBack", "yes", 42, false},
        NumberCase{"TrailingGarbageFallsBack", "12abc", 42, false},
        NumberCase{"DecimalPointFallsBack", "1.5", 42, false},
        NumberCase{"EmptyFallsBack", "", 42, false},
        NumberCase{"SignsAloneFallBack", "+-1", 42, false},
        NumberCase{"OverflowFallsBack", "99999999999", 42, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniDocumentWrite, CreatesTheSectionAtTheEndWithABlankLineBefore) {
  IniDocument doc = IniDocument::parse("[A]\nx=1\n");
  doc.writeString("B", "y", "2");
  EXPECT_EQ(doc.serialize(), "[A]\nx=1\n\n[B]\ny=2\n");
}

TEST(IniDocumentWrite, ReplacesAnExistingKeyInPlaceAndKeepsEveryOtherLine) {
  IniDocument doc = IniDocument::parse(
      "; written by hand\n[KVmain]\nSndEnable1=1\nunknown=keep\n\n[Other]\nSndEnable1=9\n");
  doc.writeBool("kvmain", "sndenable1", false);
  EXPECT_EQ(doc.serialize(),
            "; written by hand\n[KVmain]\nsndenable1=0\nunknown=keep\n\n[Other]\nSndEnable1=9\n");
}

TEST(IniDocumentWrite, AddsANewKeyBeforeTheBlankLinesThatEndItsSection) {
  IniDocument doc = IniDocument::parse("[A]\nx=1\n\n[B]\ny=2\n");
  doc.writeInteger("A", "z", -3);
  EXPECT_EQ(doc.serialize(), "[A]\nx=1\nz=-3\n\n[B]\ny=2\n");
}

TEST(IniDocumentWrite, KeepsCrLfLineEndsOfAnExistingFile) {
  IniDocument doc = IniDocument::parse("[A]\r\nx=1\r\n");
  doc.writeString("A", "y", "2");
  EXPECT_EQ(doc.serialize(), "[A]\r\nx=1\r\ny=2\r\n");
}

TEST(IniDocumentWrite, StringsAreWrittenUnchanged) {
  IniDocument doc;
  doc.writeString("KVWForm1", "PopPort", " 110");
  EXPECT_EQ(doc.serialize(), "[KVWForm1]\nPopPort= 110\n");
  EXPECT_EQ(doc.readString("KVWForm1", "PopPort", ""), "110");
}

TEST(IniDocumentWrite, ALineBreakInAValueCannotForgeAKeyOrSection) {
  IniDocument doc;
  doc.writeString("KVWForm1", "KVWedUser", "sam\r\nKVWedPassword=stolen\n[Settings]\rComms=1");
  doc.writeString("KVWForm1", "KVWedPassword", "secret");

  const IniDocument reread = IniDocument::parse(doc.serialize());
  EXPECT_EQ(reread.readString("KVWForm1", "KVWedPassword", ""), "secret");
  EXPECT_FALSE(reread.hasSection("Settings"));
  EXPECT_EQ(reread.readString("KVWForm1", "KVWedUser", ""),
            "sam KVWedPassword=stolen [Settings] Comms=1");
  EXPECT_EQ(reread.keys("KVWForm1"), (std::vector<std::string>{"KVWedUser", "KVWedPassword"}));
}

TEST(IniDocumentWrite, RefusesNamesTheFileCannotHold) {
  IniDocument doc;
  for (const char* key : {"", " padded", "a=b", "line\nbreak", "[section", ";comment"}) {
    EXPECT_THROW(doc.writeString("S", key, "v"), SettingsError) << key;
  }
  for (const char* section : {"", "a]b", "x\ry", " padded"}) {
    EXPECT_THROW(doc.writeString(section, "k", "v"), SettingsError) << section;
  }
  EXPECT_TRUE(doc.empty());
}

TEST(IniDocumentKeys, ListsKeyNamesOnceInFileOrder) {
  const IniDocument doc =
      IniDocument::parse("[ComboBox1]\nb@example.com=\na@example.com=\nB@EXAMPLE.COM=\n[x]\nc=\n");
  EXPECT_EQ(doc.keys("combobox1"), (std::vector<std::string>{"b@example.com", "a@example.com"}));
  EXPECT_TRUE(doc.keys("missing").empty());
}

TEST(IniDocumentRemove, RemovesAKeyOrAWholeSection) {
  IniDocument doc = IniDocument::parse("[A]\nx=1\ny=2\n[B]\nz=3\n");
  EXPECT_TRUE(doc.removeKey("a", "X"));
  EXPECT_FALSE(doc.removeKey("A", "x"));
  EXPECT_TRUE(doc.removeSection("A"));
  EXPECT_EQ(doc.serialize(), "[B]\nz=3\n");
}

// Values that a plain write would lose: written in the exact form, each
// reads back as it was, through the whole file text.
class IniExactValue : public ::testing::TestWithParam<std::string> {};

TEST_P(IniExactValue, ReadsBackUnchanged) {
  IniDocument doc;
  doc.set("KVWForm1", "KVWedPassword", exactIniValue(GetParam()));
  const IniDocument again = IniDocument::parse(doc.serialize());
  EXPECT_EQ(again.readString("KVWForm1", "KVWedPassword", "<missing>"), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Values, IniExactValue,
                         ::testing::Values(std::string("plain"), std::string("  leading"),
                                           std::string("trailing\t "), std::string("\"quoted\""),
                                           std::string("\" both \""), std::string("\"open"),
                                           std::string("\""), std::string("\"\""),
                                           std::string("a=b;c[d]"), std::string(2047, 'p'),
                                           " " + std::string(2046, 'p')));

TEST(IniExactValue, RefusesWhatNoLineCanHoldAndSaysWhy) {
  const struct {
    std::string value;
    std::string reason;
  } cases[] = {{std::string(2048, 'p'), "2048 bytes long; the settings file holds at most 2047"},
               {std::string(3000, 'p'), "3000 bytes long"},
               {"two\nlines", "line break"},
               {"cr\ronly", "line break"},
               {std::string("nul\0byte", 8), "NUL byte"}};
  for (const auto& c : cases) {
    try {
      (void)exactIniValue(c.value);
      ADD_FAILURE() << "accepted a value of " << c.value.size() << " bytes";
    } catch (const SettingsError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}

struct ProblemCase {
  const char* label;
  std::string file;
  std::vector<std::string> expected;  // the start of each report, in order
};

class IniDocumentProblems : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(IniDocumentProblems, NameTheLineAndTheFault) {
  const auto found = IniDocument::parse(GetParam().file).problems();
  ASSERT_EQ(found.size(), GetParam().expected.size()) << ::testing::PrintToString(found);
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].rfind(GetParam().expected[i], 0), 0u) << found[i];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniDocumentProblems,
    ::testing::Values(
        ProblemCase{"Clean", "; note\n\n[KVmain]\nSndEnable1=1\n[KVWForm1]\nk=\n", {}},
        ProblemCase{"CleanWithByteOrderMark", "\xEF\xBB\xBF[S]\r\nk=v\r\n", {}},
        ProblemCase{"StrayText",
                    "[S]\nk=v\njust words\n",
                    {"line 3 is neither a [section] header, a key=value line nor a ;comment: "
                     "\"just words\""}},
        ProblemCase{"KeyBeforeAnySection", "k=v\n[S]\n", {"line 1 is a key outside any [section]"}},
        ProblemCase{"UnclosedSection", "[S\nk=v\n", {"line 1 is a section header without"}},
        ProblemCase{"BinaryBytesShownEscaped",
                    std::string("[S]\n\x01\x00\xff\n", 8),
                    {"line 2 holds NUL bytes (this is not a text file): \"\\x01\\x00\\xFF\""}},
        ProblemCase{"ManyFaultsAreCut",
                    std::string(12, '\n') +
                        [] {
                          std::string s;
                          for (int i = 0; i < 12; ++i)
                            s += "junk\n";
                          return s;
                        }(),
                    {"line 13 ", "line 14 ", "line 15 ", "line 16 ", "line 17 ", "line 18 ",
                     "line 19 ", "line 20 ", "line 21 ", "line 22 ", "and 2 more such lines"}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace kelvrin::settings
