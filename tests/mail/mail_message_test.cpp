#include "mail/mail_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvrin::mail {
namespace {

TMailMessage& load(TMailMessage& m, std::vector<std::string> lines) {
  m.LoadRawMail(std::move(lines));
  return m;
}

struct FromCase {
  const char* name;
  std::string header;
  std::string fromView;
  std::string fromName;
  std::string fromAddress;
};

class FromHeader : public testing::TestWithParam<FromCase> {};

TEST_P(FromHeader, GivesViews) {
  TMailMessage m;
  load(m, {"From: " + GetParam().header, "Subject: s"});
  EXPECT_EQ(m.From(), GetParam().fromView);
  EXPECT_EQ(m.FromName(), GetParam().fromName);
  EXPECT_EQ(m.FromAddress(), GetParam().fromAddress);
}

INSTANTIATE_TEST_SUITE_P(
    TMailMessage, FromHeader,
    testing::Values(FromCase{"QuotedNameWithComma", "\"Doe, John\" <jd@x.com>",
                             "\"Doe, John\" <jd@x.com>", "Doe, John", "jd@x.com"},
                    FromCase{"TwoNamedEntries", "Ann <a@x.com>, Bob <b@y.com>",
                             "\"Ann\" <a@x.com>,\"Bob\" <b@y.com>", "Ann,Bob", "a@x.com,b@y.com"},
                    FromCase{"TwoBareAddressesWithBlank", "a@x.com b@y.com",
                             "\"a@x.com\" <b@y.com>", "a@x.com", "b@y.com"},
                    FromCase{"ParenthesisedName", "jd@x.com (John Doe)",
                             "\"(John Doe)\" <jd@x.com>", "(John Doe)", "jd@x.com"},
                    FromCase{"EncodedName", "=?iso-8859-1?Q?Ren=E9?= <r@x.com>",
                             "\"Ren\xe9\" <r@x.com>", "Ren\xe9", "r@x.com"}),
    [](const auto& info) { return info.param.name; });

TEST(TMailMessage, ToFoldedOverThreeLinesGivesOneEntryEach) {
  TMailMessage m;
  load(m, {"To: a@x.com,", "\tBob <b@y.com>,", " \"C, D\" <c@z.com>", "To: late@x.com",
           "Cc: e@x.com, f@y.com"});
  ASSERT_EQ(m.SendToList.Count(), 3u);
  EXPECT_EQ(m.SendToAddress(), "a@x.com,b@y.com,c@z.com");
  EXPECT_EQ(m.SendToName(), "Bob,C, D");
  EXPECT_EQ(m.CCAddress(), "e@x.com,f@y.com");
}

TEST(TMailMessage, GroupSyntaxInToStillFindsAddresses) {
  TMailMessage m;
  load(m, {"To: friends: a@x.com, b@y.com;"});
  EXPECT_EQ(m.SendToAddress(), "a@x.com,b@y.com;");
}

TEST(TMailMessage, SubjectQEncodedKeepsUnderscoreAndBytes) {
  TMailMessage m;
  load(m, {"Subject: =?iso-8859-1?Q?Caf=E9_ouvert?="});
  EXPECT_EQ(m.Subject, "Caf\xe9_ouvert");
}

TEST(TMailMessage, SubjectWithUnknownEncodingKeepsLeadingBlank) {
  TMailMessage m;
  load(m, {"Subject: =?x?X?abc?= end"});
  EXPECT_EQ(m.Subject, " end");
}

TEST(TMailMessage, SubjectIsNotCutOrNormalised) {
  TMailMessage m;
  load(m, {"Subject:  a;  b  \"c", "  continued"});
  EXPECT_EQ(m.Subject, "a;  b  \"c continued");
}

TEST(TMailMessage, HeaderFieldsAreFilled) {
  TMailMessage m;
  load(m, {"Return-Path: <bounce@x.com>; x", "Reply-To: Help <help@x.com>",
           "Date: Tue, 5 Mar 2002 10:20:30 +1300", "MIME-Version: 1.0 (generated)", "Subject: hi",
           "", "body"});
  EXPECT_EQ(m.ReturnPath, "<bounce@x.com>");
  EXPECT_EQ(m.ReplyTo(), "\"Help\" <help@x.com>");
  EXPECT_EQ(m.DateText, "Tue, 5 Mar 2002 10:20:30 +1300");
  EXPECT_EQ(m.MimeVersion, "1.0 (generated)");
  EXPECT_EQ(m.Headers.size(), 5u);
}

TEST(TMailMessage, BlankBeforeColonIsNotRecognised) {
  TMailMessage m;
  load(m, {"Subject : hidden", "From : a@b.c"});
  EXPECT_EQ(m.Subject, "");
  EXPECT_EQ(m.FromList.Count(), 0u);
}

TEST(TMailMessage, AbsentHeaderLeavesFieldUnchanged) {
  TMailMessage m;
  m.Subject = "kept";
  m.SetFrom("keep@x.com");
  load(m, {"To: a@x.com"});
  EXPECT_EQ(m.Subject, "kept");
  EXPECT_EQ(m.FromAddress(), "keep@x.com");
}

TEST(TMailMessage, FirstLineEmptyGivesNoHeaders) {
  TMailMessage m;
  load(m, {"", "Subject: not a header", "From: a@b.c"});
  EXPECT_TRUE(m.Headers.empty());
  EXPECT_EQ(m.Subject, "");
  EXPECT_EQ(m.FromList.Count(), 0u);
}

TEST(TMailMessage, EmptyRawMailIsNotParsed) {
  TMailMessage m;
  m.Headers = {"left"};
  m.LoadRawMail({});
  EXPECT_EQ(m.Headers, HeaderLines{"left"});
  EXPECT_EQ(m.RawSize, 0);
}

TEST(TMailMessage, ReplyToFallsBackToFrom) {
  TMailMessage m;
  m.SetFrom("Ann <a@x.com>");
  EXPECT_EQ(m.ReplyTo(), m.From());
  EXPECT_EQ(m.ReplyToName(), "Ann");
  EXPECT_EQ(m.ReplyToAddress(), "a@x.com");
  m.SetReplyTo("<r@y.com>, Bo <b@y.com>");
  EXPECT_EQ(m.ReplyTo(), "\"r\" <r@y.com>,\"Bo\" <b@y.com>");
  EXPECT_EQ(m.ReplyToName(), "Bo");
  EXPECT_EQ(m.ReplyToAddress(), "r@y.com,b@y.com");
}

TEST(TMailMessage, ViewsTrimNamesAndSkipEmptyOnes) {
  TMailMessage m;
  m.CCList.Add({"  Ann  ", " a@x "});
  m.CCList.Add({"", "b@y"});
  m.BCCList.Add({"Z", "z@z"});
  EXPECT_EQ(m.CC(), "\"Ann\" < a@x >,<b@y>");
  EXPECT_EQ(m.CCName(), "Ann");
  EXPECT_EQ(m.CCAddress(), "a@x,b@y");
  EXPECT_EQ(m.BCC(), "\"Z\" <z@z>");
  EXPECT_EQ(m.BCCName(), "Z");
  EXPECT_EQ(m.BCCAddress(), "z@z");
  m.SetBCC("");
  EXPECT_EQ(m.BCCList.Count(), 0u);
}

TEST(TMailMessage, RawMailClearedAndSizeRemembered) {
  TMailMessage m;
  load(m, {"Subject: a", "", "xyz"});
  EXPECT_TRUE(m.RawMail.empty());
  EXPECT_EQ(m.RawSize, 12 + 2 + 5);
  EXPECT_EQ(m.RawMailSize(), 19);
}

TEST(TMailMessage, RawMailKeptWhenAsked) {
  TMailMessage m;
  m.ClearRawMailAfterParse = false;
  m.RawSize = 99;
  load(m, {"Subject: a", "", "xyz"});
  EXPECT_EQ(m.RawMail.size(), 3u);
  EXPECT_EQ(m.RawSize, 0);
  EXPECT_EQ(m.RawMailSize(), 19);
}

TEST(TMailMessage, NewMessageDefaults) {
  TMailMessage m;
  EXPECT_EQ(m.Priority, TPriority::prNormal);
  EXPECT_EQ(m.CharSet, "iso-8859-1");
  EXPECT_EQ(m.LocalHost(), "a.b.c");
  EXPECT_TRUE(m.ClearRawMailAfterParse);
  EXPECT_EQ(m.Owner(), nullptr);
}

TEST(TMailMessage, BlankLocalHostStoresDefault) {
  TMailMessage m;
  m.SetLocalHost("mail.example.org");
  EXPECT_EQ(m.LocalHost(), "mail.example.org");
  m.SetLocalHost(" \t ");
  EXPECT_EQ(m.LocalHost(), "a.b.c");
}

}  // namespace
}  // namespace kelvrin::mail
