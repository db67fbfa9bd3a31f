// Hostile and broken input: parsing must neither crash nor hang nor lose
// what it can keep.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "mail/mail_message.h"
#include "mail/mime_body.h"

namespace kelvrin::mail {
namespace {

using Lines = std::vector<std::string>;

struct BrokenCase {
  const char* name;
  Lines lines;
};

class BrokenHeaders : public testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenHeaders, ParseWithoutError) {
  TMailMessage m;
  EXPECT_NO_THROW(m.LoadRawMail(GetParam().lines));
  EXPECT_TRUE(m.RawMail.empty());
}

INSTANTIATE_TEST_SUITE_P(
    TMailMessage, BrokenHeaders,
    testing::Values(
        BrokenCase{"UnterminatedQuote", {"From: \"Ann <a@b.c>", "To: \"x, y"}},
        BrokenCase{"UnclosedAngle", {"From: <a@b.c", "Reply-To: <", "To: <,>,<@>"}},
        BrokenCase{"TruncatedEncodedWords", {"Subject: =?", "From: =?x?B?", "To: =?x?Q?=?="}},
        BrokenCase{"OnlyContinuationLines", {" folded", "\tagain"}},
        BrokenCase{"NulAndHighBytes",
                   {std::string("Subject: a\0b\xff", 13), std::string("From: \0@\xfe", 9),
                    std::string("\0", 1), std::string("\xff\xfe body", 7)}},
        BrokenCase{"HeaderNamesOnly",
                   {"From:", "To:", "Cc:", "Subject:", "Date:", "MIME-Version:"}},
        BrokenCase{"BackslashAtEnd", {"From: a@b.c \\", "To: \\"}},
        BrokenCase{"MimeWithoutBody", {"MIME-Version: 1.0", "Content-Type: multipart/mixed"}},
        BrokenCase{"EmptyBoundary",
                   {"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=", "", "--", "x",
                    "----"}},
        BrokenCase{"Base64Garbage",
                   {"MIME-Version: 1.0", "Content-Type: text/plain",
                    "Content-Transfer-Encoding: base64", "", "!!!!", "=", "\xff\xfe"}},
        BrokenCase{"QuotedPrintableGarbage",
                   {"MIME-Version: 1.0", "Content-Type: text/plain",
                    "Content-Transfer-Encoding: quoted-printable", "", "=", "=Z", "==", "=\r"}},
        BrokenCase{"UuencodeLengthLongerThanLine",
                   {"Subject: s", "", "begin 644 x", "M", "`", "end"}}),
    [](const auto& info) { return info.param.name; });

TEST(BadInput, NulAndHighBytesSurviveIntoFields) {
  TMailMessage m;
  m.LoadRawMail({std::string("Subject: a\0b\xff", 13), "", std::string("x\0y", 3)});
  EXPECT_EQ(m.Subject, std::string("a\0b\xff", 4));
  EXPECT_EQ(m.Text, Lines{std::string("x\0y", 3)});
}

TEST(BadInput, OneMebibyteHeaderLines) {
  const std::size_t mib = 1 << 20;
  std::string words;
  while (words.size() < mib)
    words += "=?x?Q?a=41?= ";
  std::string addresses;
  while (addresses.size() < mib)
    addresses += "\"N, n\" <a@b.c>, ";
  std::string noise(mib, 'x');
  noise[mib / 2] = '@';
  TMailMessage m;
  m.LoadRawMail({"Subject: " + words, "From: " + addresses, "To: " + addresses, "Cc: " + noise,
                 "X-Long: " + std::string(mib, '('), "Date: " + std::string(mib, ' ') + "x"});
  EXPECT_EQ(m.Subject.substr(0, 6), "aA aA ");
  EXPECT_GT(m.FromList.Count(), 50000u);
  EXPECT_EQ(m.SendToList.Count(), m.FromList.Count());
  EXPECT_EQ(m.CCList.Count(), 1u);
  EXPECT_EQ(m.DateText, "x");
}

TEST(BadInput, DeeplyNestedMultipartsAreBoundedAndKept) {
  const int depth = 10000;
  Lines lines = {"MIME-Version: 1.0"};
  for (int i = 0; i < depth; ++i) {
    lines.push_back("Content-Type: multipart/mixed; boundary=b" + std::to_string(i));
    lines.push_back("");
    lines.push_back("--b" + std::to_string(i));
  }
  lines.push_back("Content-Type: text/plain");
  lines.push_back("");
  lines.push_back("innermost");
  TMailMessage m;
  m.Subject = "deep";
  ASSERT_NO_THROW(m.LoadRawMail(lines));
  // The entity past the depth bound is kept whole as one attachment.
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_NE(m.Attachments.Items(0).Data.find("innermost"), std::string::npos);
  EXPECT_EQ(m.Attachments.Items(0).Data.find("b" + std::to_string(kMaxMultipartDepth - 1) + "\r"),
            std::string::npos);
}

TEST(BadInput, NestingWithinTheBoundIsFlattened) {
  Lines lines = {"MIME-Version: 1.0"};
  for (int i = 0; i < kMaxMultipartDepth - 1; ++i) {
    lines.push_back("Content-Type: multipart/mixed; boundary=b" + std::to_string(i));
    lines.push_back("");
    lines.push_back("--b" + std::to_string(i));
  }
  lines.push_back("Content-Type: text/plain");
  lines.push_back("");
  lines.push_back("innermost");
  TMailMessage m;
  m.LoadRawMail(lines);
  EXPECT_EQ(m.Text, Lines{"innermost"});
  EXPECT_EQ(m.Attachments.Count(), 0u);
}

TEST(BadInput, ManyPartsAndLongBodyStayLinear) {
  Lines lines = {"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", ""};
  for (int i = 0; i < 20000; ++i) {
    lines.push_back("--b");
    lines.push_back("Content-Type: text/plain");
    lines.push_back("");
    lines.push_back("part " + std::to_string(i));
  }
  // A header block that never ends, 200,000 lines long.
  lines.push_back("--b");
  for (int i = 0; i < 200000; ++i)
    lines.push_back("X-H: " + std::to_string(i));
  TMailMessage m;
  m.LoadRawMail(lines);
  ASSERT_EQ(m.Text.size(), 20000u);
  EXPECT_EQ(m.Text.back(), "part 19999");
}

TEST(BadInput, ManyUuencodedBlocksStayLinear) {
  // Decoding in memory (no temporary directory) keeps the file system out of
  // what this measures.
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/nonexistent-kelvrin-dir", 1);
  Lines lines = {"Subject: s", ""};
  for (int i = 0; i < 20000; ++i) {
    lines.push_back("begin 644 f" + std::to_string(i));
    lines.push_back("#0V%T");
    lines.push_back("`");
    lines.push_back("end");
  }
  lines.push_back("tail");
  TMailMessage m;
  m.LoadRawMail(lines);
  if (old) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_EQ(m.Attachments.Count(), 20000u);
  EXPECT_EQ(m.Attachments.Items(19999).Data, "Cat");
  EXPECT_EQ(m.Text, Lines{"tail"});
}

TEST(BadInput, UuencodedBlockWithoutEndIsAnError) {
  TMailMessage m;
  EXPECT_THROW(m.LoadRawMail({"Subject: s", "", "begin 644 x", "#0V%T", "`", "ending"}), MailError);
}

}  // namespace
}  // namespace kelvrin::mail
