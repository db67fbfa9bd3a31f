#include "mail/header_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "mail/header_parsing.h"
#include "mail/mail_message.h"

namespace kelvrin::mail {
namespace {

std::vector<std::string> strings(const HeaderLines& lines) {
  return lines.Strings();
}

TEST(HeaderLines, HoldsEveryLineAsGivenEmptyOnesIncluded) {
  HeaderLines lines;
  const std::vector<std::string> given = {"From: a@b.c", "", "\tfolded", "x", ""};
  for (const std::string& line : given)
    lines.push_back(line);
  ASSERT_EQ(lines.size(), given.size());
  for (std::size_t i = 0; i < given.size(); ++i)
    EXPECT_EQ(lines[i], given[i]) << "line " << i;
  EXPECT_EQ(lines.front(), "From: a@b.c");
  EXPECT_EQ(lines.back(), "");
  EXPECT_EQ(strings(lines), given);
  // The iterator walks the same lines, forwards and backwards.
  EXPECT_TRUE(std::equal(lines.begin(), lines.end(), given.begin(), given.end()));
  EXPECT_EQ(lines.end() - lines.begin(), 5);
  EXPECT_EQ(*(lines.end() - 3), "\tfolded");
  EXPECT_EQ(lines.begin()[3], "x");
}

TEST(HeaderLines, ALineTakenFromTheBlockItselfSurvivesItsGrowth) {
  HeaderLines lines{"Subject: " + std::string(40, 's')};
  for (int i = 0; i < 8; ++i)
    lines.push_back(lines[static_cast<std::size_t>(i)]);
  ASSERT_EQ(lines.size(), 9u);
  for (std::string_view line : lines)
    EXPECT_EQ(line, "Subject: " + std::string(40, 's'));
}

TEST(HeaderLines, AssignReplacesAndEqualityComparesTheLines) {
  HeaderLines lines{"old", "lines"};
  const std::vector<std::string> given = {"To: a@b.c", " b@c.d", "Date: now"};
  lines.assign(given);
  EXPECT_EQ(strings(lines), given);
  EXPECT_EQ(lines, (HeaderLines{"To: a@b.c", " b@c.d", "Date: now"}));
  // The same text cut differently is other lines.
  EXPECT_NE(lines, (HeaderLines{"To: a@b.c b@c.d", "Date: now"}));
  EXPECT_NE(lines, (HeaderLines{"To: a@b.c", " b@c.d", "Date: now", ""}));
  lines.assign(std::vector<std::string>{});
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(lines, HeaderLines{});
}

TEST(HeaderLines, ClearEmptiesTheBlock) {
  HeaderLines lines{"a", "b"};
  lines.clear();
  EXPECT_TRUE(lines.empty());
  lines.push_back("c");
  EXPECT_EQ(strings(lines), std::vector<std::string>{"c"});
}

// The header routines read dense lines exactly as they read strings.
struct ViewCase {
  const char* name;
  std::vector<std::string> lines;
};

class LinesViewReads : public testing::TestWithParam<ViewCase> {};

TEST_P(LinesViewReads, DenseLinesGiveWhatStringsGive) {
  const std::vector<std::string>& given = GetParam().lines;
  HeaderLines dense;
  dense.assign(given);
  for (const char* name : {"FROM:", "SUBJECT:", "TO:", "CONTENT-TYPE:"}) {
    EXPECT_EQ(FindHeader(name, dense), FindHeader(name, given)) << name;
    EXPECT_EQ(FindHeader(name, dense, "--"), FindHeader(name, given, "--")) << name;
  }
  const HeaderIndex fromDense(dense);
  const HeaderIndex fromStrings(given);
  for (int n = 0; n < HeaderIndex::kNameCount; ++n) {
    const auto name = static_cast<HeaderIndex::Name>(n);
    EXPECT_EQ(fromDense.First(name), fromStrings.First(name)) << n;
    EXPECT_EQ(fromDense.Contains(name, "=?"), fromStrings.Contains(name, "=?")) << n;
    HeaderMatch a;
    HeaderMatch b;
    EXPECT_EQ(fromDense.Get(name, a), fromStrings.Get(name, b)) << n;
    EXPECT_EQ(*a, *b) << n;
  }
  if (const auto to = fromStrings.First(HeaderIndex::kTo)) {
    EXPECT_EQ(CollectAddressText(dense, *to, 3), CollectAddressText(given, *to, 3));
  }
  EXPECT_EQ(CollectAddressHeader("TO", dense), CollectAddressHeader("TO", given));
}

INSTANTIATE_TEST_SUITE_P(
    HeaderLines, LinesViewReads,
    testing::Values(ViewCase{"Plain", {"From: Ann <a@x.com>", "To: b@y.com", "Subject: hi"}},
                    ViewCase{"Folded",
                             {"To: a@x.com,", "\tb@y.com,", " \"C, D\" <c@z.com>", "Subject: one",
                              " two", "From: =?iso-8859-1?Q?Caf=E9?= <c@f.e>"}},
                    ViewCase{"LeadingEmptyLinesAndBody",
                             {"", "", "Subject: late", "", "From: body@x"}},
                    ViewCase{"StopPrefix", {"Content-Type: text/plain", "--b", "From: after@x"}},
                    ViewCase{"SecondToIgnored", {"To: first@x", "To: second@y", "Cc: c@z"}},
                    ViewCase{"Nothing", {}}),
    [](const testing::TestParamInfo<ViewCase>& info) { return info.param.name; });

// Headers holds the header block, whichever way the message was parsed.
struct BlockCase {
  const char* name;
  std::vector<std::string> raw;
  bool clearRawMail;
  std::vector<std::string> headers;
};

class ParsedHeaderBlock : public testing::TestWithParam<BlockCase> {};

TEST_P(ParsedHeaderBlock, IsTheLinesUpToTheFirstBlankOne) {
  TMailMessage m;
  m.ClearRawMailAfterParse = GetParam().clearRawMail;
  m.LoadRawMail(GetParam().raw);
  EXPECT_EQ(strings(m.Headers), GetParam().headers);
  if (GetParam().clearRawMail) {
    EXPECT_TRUE(m.RawMail.empty());
    EXPECT_EQ(m.RawMail.capacity(), 0u) << "a listed message keeps no room for the raw lines";
  } else {
    EXPECT_EQ(m.RawMail, GetParam().raw);
  }
}

INSTANTIATE_TEST_SUITE_P(
    TMailMessage, ParsedHeaderBlock,
    testing::Values(
        BlockCase{
            "HeaderCheck", {"From: a@x", "Subject: s", "", ""}, true, {"From: a@x", "Subject: s"}},
        BlockCase{"WholeMessage",
                  {"From: a@x", " (folded)", "", "body", "", "more"},
                  true,
                  {"From: a@x", " (folded)"}},
        BlockCase{"RawMailKept", {"Subject: s", "\t", "body"}, false, {"Subject: s"}},
        BlockCase{
            "BlanksEndTheBlock", {"Subject: s", " \t ", "To: not@header"}, true, {"Subject: s"}}),
    [](const testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

TEST(TMailMessage, AFailedBodyParseKeepsTheRawLinesAndTheHeaderBlock) {
  TMailMessage m;
  const std::vector<std::string> raw = {"Subject: s", "", "begin 644 x", "#0V%T", "`", "ending"};
  EXPECT_THROW(m.LoadRawMail(raw), MailError);
  EXPECT_EQ(m.RawMail, raw);
  EXPECT_EQ(strings(m.Headers), std::vector<std::string>{"Subject: s"});
  EXPECT_EQ(m.Subject, "s");
  EXPECT_EQ(m.RawSize, 0);
}

}  // namespace
}  // namespace kelvrin::mail
