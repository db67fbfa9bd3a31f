#include "mail/mime_body.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mail/header_parsing.h"
#include "mail/temp_file.h"

namespace kelvrin::mail {
namespace {

using Lines = std::vector<std::string>;

// Every test runs with a temporary directory of its own, so that leftovers
// are seen and the machine's /tmp is not touched.
class MimeBody : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvrin-mail-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) oldTmp_ = old;
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    SetTempFileWrittenHook({});
    if (oldTmp_) {
      ::setenv("TMPDIR", oldTmp_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    std::filesystem::remove_all(dir_);
  }
  std::size_t filesLeft() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir_),
                                                  std::filesystem::directory_iterator()));
  }
  TMailMessage& parse(Lines lines) {
    message_.LoadRawMail(std::move(lines));
    return message_;
  }

  std::string dir_;
  std::optional<std::string> oldTmp_;
  TMailMessage message_;
};

TEST_F(MimeBody, PlainMessageBodyGoesToText) {
  auto& m = parse({"From: a@b.c", "Subject: s", "", "", "line one", "", "line two"});
  EXPECT_EQ(m.Text, (Lines{"line one", "", "line two"}));
  EXPECT_TRUE(m.HTML.empty());
  EXPECT_EQ(m.Attachments.Count(), 0u);
}

TEST_F(MimeBody, HeaderOnlyMessageLeavesBodyEmpty) {
  auto& m = parse({"From: a@b.c", "MIME-Version: 1.0",
                   "Content-Type: multipart/mixed; boundary=\"x\"", "Subject: s"});
  EXPECT_TRUE(m.Text.empty());
  EXPECT_TRUE(m.HTML.empty());
  EXPECT_EQ(m.Attachments.Count(), 0u);
}

TEST_F(MimeBody, AlternativeFillsTextAndHtml) {
  auto& m =
      parse({"MIME-Version: 1.0", "Content-Type: multipart/alternative;", "\tboundary=\"==b1\"", "",
             "preamble", "--==b1", "Content-Type: text/plain; charset=iso-8859-1",
             "Content-Transfer-Encoding: quoted-printable", "", "Caf=E9 is a long =", "line",
             "--==b1", "Content-Type: text/html", "", "<p>Hi</p>", "--==b1--", "epilogue"});
  EXPECT_EQ(m.Text, (Lines{"Caf\xe9 is a long line"}));
  EXPECT_EQ(m.HTML, (Lines{"<p>Hi</p>"}));
  EXPECT_EQ(m.Attachments.Count(), 0u);
}

TEST_F(MimeBody, TextPartWithAttachmentDispositionBecomesAttachment) {
  auto& m =
      parse({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
             "Content-Type: text/plain", "", "body", "--b",
             "Content-Type: text/plain; name=\"notes.txt\"",
             "Content-Disposition: attachment; filename=\"notes.txt\"", "", "a", "b", "--b",
             "Content-Type: text/plain", "Content-Disposition: inline; filename=\"shown.txt\"", "",
             "inline text", "--b--"});
  EXPECT_EQ(m.Text, (Lines{"body", "inline text"}));
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).FileName, "notes.txt");
  EXPECT_EQ(m.Attachments.Items(0).Data, "a\r\nb");
  EXPECT_EQ(m.Attachments.Items(0).ContentType, "text/plain");
}

TEST_F(MimeBody, ShortFirstLineOfAttachmentKeepsItsData) {
  auto& m =
      parse({"MIME-Version: 1.0", "Content-Type: application/x-thing; name=t.bin", "", "ab", "cd"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).Data, "ab\r\ncd");
}

TEST_F(MimeBody, BoundaryLineWithTrailingBlankYieldsNoParts) {
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b ",
                   "Content-Type: text/plain", "", "hidden", "--b-- "});
  EXPECT_TRUE(m.Text.empty());
  EXPECT_EQ(m.Attachments.Count(), 0u);
}

TEST_F(MimeBody, NestedMultipartLeavesInDocumentOrder) {
  auto& m = parse({"MIME-Version: 1.0",
                   "Content-Type: multipart/alternative; boundary=outer",
                   "",
                   "--outer",
                   "Content-Type: multipart/mixed; boundary=inner",
                   "",
                   "--inner",
                   "Content-Type: text/plain",
                   "",
                   "first",
                   "--inner",
                   "Content-Type: text/plain",
                   "",
                   "second",
                   "--inner--",
                   "--outer",
                   "Content-Type: text/plain",
                   "",
                   "third",
                   "--outer--"});
  EXPECT_EQ(m.Text, (Lines{"first", "second", "third"}));
}

TEST_F(MimeBody, UnclosedBoundaryKeepsLastPart) {
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
                   "Content-Type: text/plain", "", "never closed"});
  EXPECT_EQ(m.Text, (Lines{"never closed"}));
}

TEST_F(MimeBody, HtmlOnlyMessageHasEmptyText) {
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: text/html", "", "<b>x</b>"});
  EXPECT_TRUE(m.Text.empty());
  EXPECT_EQ(m.HTML, (Lines{"<b>x</b>"}));
}

TEST_F(MimeBody, Base64TextPartIsSplitIntoLines) {
  // "one\r\ntwo\nthree\r" in Base64.
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: text/plain",
                   "Content-Transfer-Encoding: base64", "", "b25lDQp0d28KdGhy", "ZWUN"});
  EXPECT_EQ(m.Text, (Lines{"one", "two", "three"}));
}

TEST_F(MimeBody, Base64AttachmentIsDecodedThroughPrivateTempFile) {
  std::string seen;
  mode_t mode = 0;
  SetTempFileWrittenHook([&](const std::string& path) {
    seen = path;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    mode = st.st_mode & 0777;
  });
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
                   "Content-Type: application/pdf; name=\"report.pdf\"",
                   "Content-Transfer-Encoding: base64", "Content-ID: <id-1@x>", "", "TWFu",
                   "TQ==", "--b--"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  const TAttachedFile& a = m.Attachments.Items(0);
  EXPECT_EQ(a.FileName, "report.pdf");
  EXPECT_EQ(a.Data, "ManM");
  EXPECT_EQ(a.ContentID, "id-1@x");
  EXPECT_EQ(a.Identifier, std::to_string(::gettid()));
  const std::string name = std::filesystem::path(seen).filename();
  EXPECT_EQ(std::filesystem::path(seen).parent_path(), dir_);
  EXPECT_EQ(name.rfind(a.Identifier + "-zov-b64d-", 0), 0u) << name;
  EXPECT_EQ(name.size(), a.Identifier.size() + 10 + 8 + 4);
  EXPECT_EQ(name.substr(name.size() - 4), ".$$$");
  EXPECT_EQ(mode, 0600u);
  EXPECT_EQ(filesLeft(), 0u);
}

TEST_F(MimeBody, VanishedTempFileBecomesVirusReport) {
  SetTempFileWrittenHook([](const std::string& path) { ::unlink(path.c_str()); });
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: application/octet-stream; name=x.exe",
                   "Content-Transfer-Encoding: base64", "", "TWFu"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).FileName, "virus_report.txt");
  EXPECT_EQ(m.Attachments.Items(0).Data,
            "x.exe cannot be opened.\r\nThis is generally due to virus protection software "
            "suspecting a virus in the attachment.\r\nThe contents of the attachment has been "
            "stripped.");
}

TEST_F(MimeBody, UnwritableTempDirectoryStillDecodes) {
  ::setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: image/gif",
                   "Content-Transfer-Encoding: base64", "", "TWFu"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).Data, "Man");
}

TEST_F(MimeBody, NamelessAttachmentIsNamedAfterSubject) {
  auto& m = parse({"Subject: Holiday.pics", "MIME-Version: 1.0", "Content-Type: image/jpeg",
                   "Content-Transfer-Encoding: base64", "", "TWFu"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).FileName, "Holiday.jpg");
  EXPECT_EQ(m.Attachments.Items(0).ContentType, "image/jpeg");
}

TEST_F(MimeBody, AttachedMessageIsNamedAfterItsSubject) {
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
                   "Content-Type: message/rfc822", "", "Subject: Inner: talk", "From: x@y", "",
                   "inner body", "--b--"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).FileName, "Inner talk.eml");
  EXPECT_EQ(m.Attachments.Items(0).Data, "Subject: Inner: talk\r\nFrom: x@y\r\n\r\ninner body");
}

TEST_F(MimeBody, AttachedMessageWithoutSubjectGetsRandomName) {
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: message/rfc822", "", "From: x@y", "", "b"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  const std::string& name = m.Attachments.Items(0).FileName;
  ASSERT_EQ(name.size(), 7u + 8 + 4) << name;
  EXPECT_EQ(name.substr(0, 7), "rfc822-");
  EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 7), 15u);
}

TEST_F(MimeBody, AttachmentNamesCannotClimbOutOfAFolder) {
  auto& m =
      parse({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "", "--b",
             "Content-Type: application/octet-stream; name=\"../../.bashrc\"", "", "x", "--b",
             "Content-Type: application/octet-stream",
             "Content-Disposition: attachment; filename=\"..\\\\..\\\\a*b?.exe\"", "", "y", "--b",
             "Content-Type: message/rfc822", "", "Subject: ../../up", "", "z", "--b--"});
  ASSERT_EQ(m.Attachments.Count(), 3u);
  EXPECT_EQ(m.Attachments.Items(0).FileName, "bashrc");
  EXPECT_EQ(m.Attachments.Items(1).FileName, "ab.exe");
  EXPECT_EQ(m.Attachments.Items(2).FileName, "up.eml");
}

TEST_F(MimeBody, QuotedPrintableAttachment) {
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: application/octet-stream; name=q.bin",
                   "Content-Transfer-Encoding: quoted-printable", "", "a=3Db=", "c"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).Data, "a=bc\r\n");
}

const Lines kUuMessage = {"From: a@b.c",
                          "Subject: files",
                          "",
                          "Here it is:",
                          "begin 644 \"cat.txt\"",
                          "#0V%T",
                          "`",
                          "end",
                          "Bye"};

TEST_F(MimeBody, UuencodedBlockBecomesAttachment) {
  auto& m = parse(kUuMessage);
  EXPECT_EQ(m.Text, (Lines{"Here it is:", "Bye"}));
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).FileName, "cat.txt");
  EXPECT_EQ(m.Attachments.Items(0).Data, "Cat");
  EXPECT_EQ(filesLeft(), 0u);
}

TEST_F(MimeBody, SeveralUuencodedBlocks) {
  auto& m = parse({"Subject: s", "", "begin 600 a.bin", "#0V%T", "`", "end", "middle",
                   "begin 644 b.bin", "#`/\\0", "`", "end"});
  EXPECT_EQ(m.Text, (Lines{"middle"}));
  ASSERT_EQ(m.Attachments.Count(), 2u);
  EXPECT_EQ(m.Attachments.Items(0).Data, "Cat");
  EXPECT_EQ(m.Attachments.Items(1).Data, std::string("\x00\xff\x10", 3));
}

TEST_F(MimeBody, UuencodedWithoutBackquoteMarkerStaysText) {
  auto& m = parse({"Subject: s", "", "begin 644 a.bin", "#0V%T", "end"});
  EXPECT_EQ(m.Attachments.Count(), 0u);
  EXPECT_EQ(m.Text.size(), 3u);
}

TEST_F(MimeBody, UuencodedBadCharacterRaisesOopsAndRemovesTempFile) {
  Lines lines = kUuMessage;
  lines[5] = "#0v%t";
  try {
    parse(lines);
    FAIL() << "no error";
  } catch (const MailError& e) {
    EXPECT_STREQ(e.what(), "Oops...");
  }
  EXPECT_EQ(filesLeft(), 0u);
}

TEST_F(MimeBody, UuencodedWithoutEndRaises) {
  // The marker is there (a backquote line followed by "endless"), the end line is not.
  try {
    parse({"Subject: s", "", "begin 644 a.bin", "#0V%T", "`", "endless"});
    FAIL() << "no error";
  } catch (const MailError& e) {
    EXPECT_STREQ(e.what(), "Uuencoded attachment has no end line.");
  }
}

TEST_F(MimeBody, UuencodeTransferEncodingInMimePart) {
  auto& m = parse({"MIME-Version: 1.0", "Content-Type: application/octet-stream",
                   "Content-Transfer-Encoding: x-uuencode", "", "begin 644 c.txt", "#0V%T", "end",
                   "ignored"});
  ASSERT_EQ(m.Attachments.Count(), 1u);
  EXPECT_EQ(m.Attachments.Items(0).Data, "Cat");
}

struct PartHeaderCase {
  const char* name;
  Lines lines;
  PartHeaders expected;
};

class ParsePartHeadersTest : public testing::TestWithParam<PartHeaderCase> {};

TEST_P(ParsePartHeadersTest, Yields) {
  const PartHeaders h = ParsePartHeaders(GetParam().lines);
  const PartHeaders& e = GetParam().expected;
  EXPECT_EQ(h.Disposition, e.Disposition);
  EXPECT_EQ(h.ContentID, e.ContentID);
  EXPECT_EQ(h.FileName, e.FileName);
  EXPECT_EQ(h.Encoding, e.Encoding);
  EXPECT_EQ(h.ContentType, e.ContentType);
}

INSTANTIATE_TEST_SUITE_P(
    ParsePartHeaders, ParsePartHeadersTest,
    testing::Values(
        PartHeaderCase{"NoHeaders", {"", "body"}, {}},
        PartHeaderCase{
            "MimeVersionOnly", {"MIME-Version: 1.0"}, {"", "", "", "7BIT", "TEXT/PLAIN"}},
        PartHeaderCase{"MimeVersionNeedsBlank", {"MIME-Version:1.0"}, {}},
        PartHeaderCase{"NameAndDisposition",
                       {"Content-Type: image/png;", "\tname=\"a.png\"",
                        "Content-Disposition: attachment; filename=b.png; size=3",
                        "Content-Transfer-Encoding: Base64", "Content-ID: <x@y>"},
                       {"ATTACHMENT", "x@y", "b.png", "BASE64", "IMAGE/PNG; NAME=\"A.PNG\""}},
        PartHeaderCase{
            "InlineKeepsContentTypeName",
            {"Content-Type: image/png; name=a.png", "Content-Disposition: inline; filename=b.png"},
            {"INLINE", "", "a.png", "", "IMAGE/PNG; NAME=A.PNG"}},
        PartHeaderCase{
            "LocationGivesFileName",
            {"Content-Type: image/gif", "Content-Location: http://example.com/img/logo.gif"},
            {"", "", "logo.gif", "", "IMAGE/GIF"}},
        PartHeaderCase{"SingleQuotesAndEncodedName",
                       {"Content-Type: application/pdf; name='=?utf-8?B?TWFu?=.pdf'"},
                       {"", "", "Man.pdf", "", "APPLICATION/PDF; NAME='=?UTF-8?B?TWFU?=.PDF'"}},
        PartHeaderCase{"DispositionOnlyWithoutContentType",
                       {"Content-Disposition: attachment; filename=\"r.txt\""},
                       {"", "", "r.txt", "", ""}},
        PartHeaderCase{"LowerCaseInlineIsNotInline",
                       {"Content-Disposition: inline; filename=\"r.txt\""},
                       {"", "", "r.txt", "", ""}}),
    [](const auto& info) { return info.param.name; });

TEST(ParsePartHeaders, AttachedMessageTakesSubjectBeforeBoundary) {
  const Lines lines = {"Content-Type: message/rfc822", "Subject: Fwd: x", "--b", "Subject: other"};
  const PartHeaders h = ParsePartHeaders(lines);
  EXPECT_EQ(h.FileName, "Fwd: x.eml");
  EXPECT_EQ(h.Encoding, "");
}

struct BoundaryCase {
  const char* name;
  std::string line;
  std::optional<std::string> expected;
};

class GetBoundaryTest : public testing::TestWithParam<BoundaryCase> {};

TEST_P(GetBoundaryTest, Extracts) {
  EXPECT_EQ(GetBoundary(GetParam().line), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    GetBoundary, GetBoundaryTest,
    testing::Values(
        BoundaryCase{"Quoted", "Content-Type: multipart/mixed; boundary=\"a b\"; x=y", "--a b"},
        BoundaryCase{"Bare", "Content-Type: multipart/mixed; BOUNDARY = abc ; x", "--abc"},
        BoundaryCase{"Missing", "Content-Type: multipart/mixed", std::nullopt},
        BoundaryCase{"CutAfter72",
                     "Content-Type: multipart/mixed; boundary=" + std::string(80, 'z'),
                     "--" + std::string(71, 'z')}),
    [](const auto& info) { return info.param.name; });

TEST(SplitMultipart, LineAfterBoundaryAlwaysJoinsTheNewPart) {
  const Lines lines = {
      "Content-Type: multipart/mixed; boundary=b", "", "--b", "A", "--b", "--b", "B", "--b--"};
  std::vector<LineSpan> parts;
  SplitMultipart(lines, parts);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(Lines(parts[0].begin(), parts[0].end()), Lines{"A"});
  EXPECT_EQ(Lines(parts[1].begin(), parts[1].end()), (Lines{"--b", "B"}));
}

TEST(SplitMultipart, LastPartNeedsMoreThanOneLine) {
  const Lines lines = {
      "Content-Type: multipart/mixed; boundary=b", "", "--b", "A", "--b", "B", "--b--"};
  std::vector<LineSpan> parts;
  SplitMultipart(lines, parts);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0][0], "A");
}

TEST(Uudecode, FullLineAndShortLastLine) {
  Lines lines = {"M2&5L;&\\L(%=O<FQD(2!4:&ES(&ES(&$@;&]N9V5R(&QI;F4@;V8@9&%T82!T", "#0V%T", "`",
                 "#0V%T"};
  std::string out;
  StringSink sink(out);
  Uudecode(lines, sink);
  EXPECT_EQ(out, "Hello, World! This is a longer line of data tCat");
}

TEST(Uudecode, StrippedTrailingBlanksCountAsZero) {
  Lines lines = {"#0V"};  // "#0V%T" missing its last two characters
  std::string out;
  StringSink sink(out);
  Uudecode(lines, sink);
  EXPECT_EQ(out, std::string("C\0\0", 3));
}

TEST(UUBeginFileName, RecognisesBeginLines) {
  EXPECT_EQ(UUBeginFileName("begin 644 file.txt"), "file.txt");
  EXPECT_EQ(UUBeginFileName("BEGIN 666 \"a b\""), "a b");
  EXPECT_FALSE(UUBeginFileName("begin 644"));
  EXPECT_FALSE(UUBeginFileName("begin 999 file.txt"));
  EXPECT_FALSE(UUBeginFileName("begin 000 file.txt"));
  EXPECT_FALSE(UUBeginFileName("begin 64x file.txt"));
  EXPECT_FALSE(UUBeginFileName("beginning of the end"));
}

TEST(AppendTextLines, SplitsAtAnyLineEnd) {
  Lines out;
  AppendTextLines("a\r\nb\rc\nd\r\n\r\ne", out);
  EXPECT_EQ(out, (Lines{"a", "b", "c", "d", "", "e"}));
  Lines none;
  AppendTextLines("", none);
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace kelvrin::mail
