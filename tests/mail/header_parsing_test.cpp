#include "mail/header_parsing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvrin::mail {
namespace {

struct AddressCase {
  const char* name;
  std::string text;
  std::string expectedName;
  std::string expectedAddress;
};

class ParseAddressTest : public testing::TestWithParam<AddressCase> {};

TEST_P(ParseAddressTest, SplitsNameAndAddress) {
  const TMailAddress a = ParseAddress(GetParam().text);
  EXPECT_EQ(a.Name, GetParam().expectedName);
  EXPECT_EQ(a.Address, GetParam().expectedAddress);
}

INSTANTIATE_TEST_SUITE_P(
    ParseAddress, ParseAddressTest,
    testing::Values(
        AddressCase{"AngleOnly", "<jd@x.com>", "", "jd@x.com"},
        AddressCase{"QuotedNameWithComma", "\"Doe, John\" <jd@x.com>", "Doe, John", "jd@x.com"},
        AddressCase{"BareName", "John Doe <jd@x.com>", "John Doe", "jd@x.com"},
        AddressCase{"ParenthesisedName", "jd@x.com (John Doe)", "(John Doe)", "jd@x.com"},
        AddressCase{"ParenthesisStopsAtClose", "jd@x.com (John) more", "(John)", "jd@x.com"},
        AddressCase{"ParenthesisWithoutClose", "jd@x.com (John", "(John", "jd@x.com"},
        AddressCase{"ParenthesisWithoutAt", "john (x)", "(x)", "john"},
        AddressCase{"MissingCloseAngle", "John <jd@x.com", "John", ""},
        AddressCase{"TwoAddressesWithBlank", "a@x.com b@y.com", "a@x.com", "b@y.com"},
        AddressCase{"PlainAddress", "  jd@x.com  ", "", "jd@x.com"},
        AddressCase{"QuotedAddress", "\"jd@x.com\"", "", "\"jd@x.com\""},
        AddressCase{"QuotedInAngle", "<\"jd@x.com\">", "", "jd@x.com"}),
    [](const auto& info) { return info.param.name; });

struct ListCase {
  const char* name;
  std::string text;
  std::vector<std::pair<std::string, std::string>> expected;  // name, address
};

class ParseAddressListTest : public testing::TestWithParam<ListCase> {};

TEST_P(ParseAddressListTest, ListsTheAddresses) {
  TAddressList list;
  list.Add({"stale", "stale@x"});
  ParseAddressList(GetParam().text, list);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& a : list)
    got.emplace_back(a.Name, a.Address);
  EXPECT_EQ(got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ParseAddressList, ParseAddressListTest,
    testing::Values(
        ListCase{"Empty", "", {}},
        ListCase{"CommaInQuotedName", "\"Doe, John\" <jd@x.com>", {{"Doe, John", "jd@x.com"}}},
        ListCase{"TwoNamedEntries",
                 "Ann <a@x.com>, Bob <b@y.com>",
                 {{"Ann", "a@x.com"}, {"Bob", "b@y.com"}}},
        ListCase{"TwoBareCommaSeparated", "a@x.com,b@y.com", {{"", "a@x.com"}, {"", "b@y.com"}}},
        ListCase{"BlankWithoutCommaDoesNotCut", "a@x.com b@y.com", {{"a@x.com", "b@y.com"}}},
        ListCase{
            "BlankBeforeCommaCuts", "a@x.com (A), b@y.com", {{"", "a@x.com"}, {"(A),", "b@y.com"}}},
        ListCase{"BrokenAngleDropped", "Ann <a@x.com, b@y.com", {{"", "b@y.com"}}},
        ListCase{"NoAtSign", "undisclosed", {{"", "undisclosed"}}}),
    [](const auto& info) { return info.param.name; });

TEST(ParseAddressList, LongListIsParsedInOnePass) {
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "u" + std::to_string(i) + "@h ";
  // A single comma at the very end: every blank before it cuts.
  text += ", end@h";
  TAddressList list;
  ParseAddressList(text, list);
  ASSERT_EQ(list.Count(), 20001u);
  EXPECT_EQ(list.Items(19999).Address, "u19999@h");
  EXPECT_EQ(list.Items(20000).Address, "end@h");
}

struct DecodeCase {
  const char* name;
  std::string text;
  std::string expected;
};

class DecodeHeaderTextTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeHeaderTextTest, Decodes) {
  EXPECT_EQ(DecodeHeaderText(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    DecodeHeaderText, DecodeHeaderTextTest,
    testing::Values(DecodeCase{"PlainTextTrimmed", "  hello  ", "hello"},
                    DecodeCase{"QKeepsUnderscore",
                               "=?iso-8859-1?Q?Caf=E9_ouvert?=", "Caf\xe9_ouvert"},
                    DecodeCase{"LowerCaseLetter", "=?utf-8?q?a=3Db?=", "a=b"},
                    DecodeCase{"Base64", "=?utf-8?B?TWFu?=", "Man"},
                    DecodeCase{"PrefixAndSuffix", "Re: =?x?B?TWFu?= here", "Re: Man here"},
                    DecodeCase{"BlanksBetweenWordsStay", "=?x?Q?a?= =?x?Q?b?=", "a b"},
                    DecodeCase{"UnknownLetterDropsWord", "=?x?X?abc?= end", " end"},
                    DecodeCase{"NoQuestionMarkStops", "a =?xyz", "a =?xyz"},
                    DecodeCase{"NoEndStops", "a =?x?Q?abc", "a =?x?Q?abc"},
                    DecodeCase{"UndecodedRestAfterStop", "=?x?Q?a?= =?x?Q?b", "a =?x?Q?b"},
                    DecodeCase{"EmptyPayload", "x=?c?Q?\?=y", "xy"},
                    DecodeCase{"DecodedTextFormsNewWord", "=?x?Q?=3D?=?x?Q?z?=", "z"},
                    DecodeCase{"PrefixEqualsJoinsDecodedQuestion", "==?x?Q?=3F?=x?Q?k?=", "k"}),
    [](const auto& info) { return info.param.name; });

TEST(DecodeHeaderText, ManyEncodedWordsStayLinear) {
  std::string text;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    text += "=?x?Q?ab?= ";
    expected += "ab ";
  }
  expected.pop_back();
  EXPECT_EQ(DecodeHeaderText(text), expected);
}

struct ValueCase {
  const char* name;
  std::string line;
  bool cut;
  std::string expected;
};

class GetHeaderValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(GetHeaderValueTest, Normalises) {
  EXPECT_EQ(GetHeaderValue("FROM:", GetParam().line, GetParam().cut), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    GetHeaderValue, GetHeaderValueTest,
    testing::Values(ValueCase{"Absent", "To: x", false, ""},
                    ValueCase{"CaseInsensitive", "from:  a@b ", false, "a@b"},
                    ValueCase{"CutAtSemicolon", "From: a ; b", true, "a"},
                    ValueCase{"NotCut", "From: a ; b", false, "a ; b"},
                    ValueCase{"BlankRunsCollapse", "From: a   b\t\tc", false, "a b c"},
                    ValueCase{"BackslashQuotes", "From: a\\\\b\\\"c", false, "a\\b\"c"},
                    ValueCase{"AngleKeepsBlanks", "From: x <a  b\\c>  y", false, "x <a  b\\c> y"},
                    ValueCase{"QuotedAngleIsText", "From: \"<a  b>\"", false, "\"<a b>\""},
                    ValueCase{"ControlBecomesBlank", "From: a\x01z", false, "a z"}),
    [](const auto& info) { return info.param.name; });

TEST(FindHeader, UnfoldsContinuationLines) {
  const std::vector<std::string> lines = {"Subject: one", "\t two  ", " three", "From: x"};
  EXPECT_EQ(FindHeader("SUBJECT:", lines), "Subject: one two three");
}

TEST(FindHeader, StopsAtEmptyLineAndStopPrefix) {
  const std::vector<std::string> lines = {"X: 1", "", "Subject: body"};
  EXPECT_FALSE(FindHeader("SUBJECT:", lines).has_value());
  const std::vector<std::string> part = {"X: 1", "--b", "Subject: s"};
  EXPECT_FALSE(FindHeader("SUBJECT:", part, "--").has_value());
  EXPECT_TRUE(FindHeader("SUBJECT:", part).has_value());
}

TEST(FindHeader, SkipsLeadingEmptyLinesAndTakesFirstMatch) {
  const std::vector<std::string> lines = {"", "", "subject: a", "Subject: b"};
  EXPECT_EQ(FindHeader("SUBJECT:", lines), "subject: a");
}

TEST(FindHeader, BlankBeforeColonIsNotTheHeader) {
  const std::vector<std::string> lines = {"Subject : a"};
  EXPECT_FALSE(FindHeader("SUBJECT:", lines).has_value());
}

TEST(CollectAddressHeader, SplitsAtCommasOutsideQuotedNames) {
  const std::vector<std::string> headers = {"To: \"Doe, J\" <a@x>,", "\tb@y,", " c@z",
                                            "To: ignored@x"};
  const auto entries = CollectAddressHeader("to", headers);
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(*entries, (std::vector<std::string>{"\"Doe, J\" <a@x>", "b@y", "c@z"}));
}

TEST(CollectAddressHeader, AbsentAndEmpty) {
  const std::vector<std::string> headers = {"Cc:   ", "From: a@b"};
  EXPECT_FALSE(CollectAddressHeader("TO", headers).has_value());
  EXPECT_EQ(CollectAddressHeader("CC", headers), std::vector<std::string>{});
}

TEST(CollectAddressHeader, UnclosedQuoteLosesNothing) {
  const std::vector<std::string> headers = {"To: a@x, \"b, c"};
  EXPECT_EQ(CollectAddressHeader("TO", headers), (std::vector<std::string>{"a@x", " \"b, c"}));
}

TEST(JoinAddressEntries, GroupNameRunsIntoNextEntry) {
  EXPECT_EQ(JoinAddressEntries({"a@x", "", "b@y"}), "a@x,b@y");
  EXPECT_EQ(JoinAddressEntries({"Group: c@z", "d@w;"}), "Group: c@z,d@w;");
  EXPECT_EQ(JoinAddressEntries({"Group:", "d@w"}), "Group:d@w");
}

TEST(StripQuotes, RemovesRunsOfQuotesAtBothEnds) {
  EXPECT_EQ(StripQuotes("  \"\"a \"b\"\"  "), "a \"b");
  EXPECT_EQ(StripQuotes("\" a \""), " a ");
  EXPECT_EQ(StripQuotes("\"\"\""), "");
}

}  // namespace
}  // namespace kelvrin::mail

namespace kelvrin::mail {
namespace {

// The one-pass lookups must find exactly what FindHeader and
// CollectAddressHeader find.
const std::vector<std::vector<std::string>> kHeaderBlocks = {
    {"From: a@b.c", "To: x@y.z", "Subject: s"},
    {"", "", "FROM: upper@x", "from: lower@x", "Cc: c@d", "\tcontinued@e"},
    {"Received: from x", "\tby y", "Content-Type: multipart/mixed;", "\tboundary=\"b\"",
     "MIME-Version:1.0", "MIME-Version: 1.0", "Content-Transfer-Encoding: base64"},
    {"Subject : not", "X-From: not", "To:", "To: second@x", "", "From: after-blank@x"},
    {"Content-Id: <i>", "Content-Location: http://x/y", "Content-Disposition: inline",
     "Reply-To: r@x", "Return-Path: <p@x>", "Date: today"},
    {" folded first", "Cc: a@b, \"x, y\" <c@d>,", " e@f", "Cc: ignored@x"},
    {"To: a@x,", "To: b@y"},
    {"Content-type:text/plain", "content-TRANSFER-encoding:QP"},
};

const std::pair<HeaderIndex::Name, std::string_view> kIndexedNames[] = {
    {HeaderIndex::kFrom, "FROM:"},
    {HeaderIndex::kReturnPath, "RETURN-PATH:"},
    {HeaderIndex::kReplyTo, "REPLY-TO:"},
    {HeaderIndex::kTo, "TO:"},
    {HeaderIndex::kCc, "CC:"},
    {HeaderIndex::kDate, "DATE:"},
    {HeaderIndex::kSubject, "SUBJECT:"},
    {HeaderIndex::kMimeVersion, "MIME-VERSION:"},
    {HeaderIndex::kMimeVersionBlank, "MIME-VERSION: "},
    {HeaderIndex::kContentType, "CONTENT-TYPE:"},
    {HeaderIndex::kContentDisposition, "CONTENT-DISPOSITION:"},
    {HeaderIndex::kContentId, "CONTENT-ID:"},
    {HeaderIndex::kContentTransferEncoding, "CONTENT-TRANSFER-ENCODING:"},
    {HeaderIndex::kContentLocation, "CONTENT-LOCATION:"},
};

class HeaderLookups : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HeaderLookups, IndexFindsWhatFindHeaderFinds) {
  const auto& lines = GetParam();
  const HeaderIndex index(lines);
  for (const auto& [id, name] : kIndexedNames) {
    HeaderMatch match;
    const auto expected = FindHeader(name, lines);
    EXPECT_EQ(index.Get(id, match), expected.has_value()) << name;
    if (expected) {
      EXPECT_EQ(*match, *expected) << name;
    }
    HeaderMatch found;
    EXPECT_EQ(found.Find(name, lines), expected.has_value()) << name;
    if (expected) {
      EXPECT_EQ(*found, *expected) << name;
    }
    EXPECT_EQ(index.Contains(id, "A"), expected && FindNoCase(*expected, "A") != std::string::npos)
        << name;
  }
}

TEST_P(HeaderLookups, CollectAddressTextJoinsLikeTheEntries) {
  const auto& lines = GetParam();
  for (std::string_view name : {"TO", "CC"}) {
    const auto entries = CollectAddressHeader(name, lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (!StartsWithNoCase(lines[i], std::string(name) + ":")) continue;
      ASSERT_TRUE(entries.has_value());
      EXPECT_EQ(CollectAddressText(lines, i, name.size() + 1), JoinAddressEntries(*entries));
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HeaderIndex, HeaderLookups, testing::ValuesIn(kHeaderBlocks));

TEST(CollectAddressText, JoinsLikeTheEntriesOnEdgeCases) {
  const char* const values[] = {
      "a@x,",     "a@x,,",     "a@x,,b@y", "grp:,b@y", "a@x, \"b,",   "\"q,\" <a@x>,", "<a,b@x>,c",
      "\\,a@x,b", "a@x\\,b@y", ",,,",      "",         "a@x , b@y ,", "n <a@x>,,, m"};
  for (const char* value : values) {
    const std::vector<std::string> lines = {std::string("To: ") + value};
    EXPECT_EQ(CollectAddressText(lines, 0, 3),
              JoinAddressEntries(*CollectAddressHeader("TO", lines)))
        << value;
  }
}

}  // namespace
}  // namespace kelvrin::mail
