#include "update/update_info.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvrin::update {
namespace {

struct ParseCase {
  const char* name;
  std::string text;
  std::string version;  // empty: refused
  std::string homePage;
  std::string reason;  // a part of the refusal's text
};

class ParseUpdateInfoTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseUpdateInfoTest, ReadsOrRefusesWithAReason) {
  const ParseCase& c = GetParam();
  if (c.version.empty()) {
    try {
      parseUpdateInfo(c.text);
      FAIL() << "accepted";
    } catch (const UpdateInfoError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
    return;
  }
  const UpdateInfo info = parseUpdateInfo(c.text);
  EXPECT_EQ(info.Version, c.version);
  EXPECT_EQ(info.HomePage, c.homePage);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseUpdateInfoTest,
    ::testing::Values(
        ParseCase{"Plain", "version=1.2.3\nhomepage=https://k.example/dl\n", "1.2.3",
                  "https://k.example/dl", ""},
        ParseCase{"CommentsBlanksCrLfBomAndUnknownKeys",
                  "\xEF\xBB\xBF# newest\r\n\r\n  version = 2.0 \r\nchannel=stable\r\n"
                  "homepage=http://k.example\r\n",
                  "2.0", "http://k.example", ""},
        ParseCase{"NoFinalLineBreak", "homepage=https://k.example\nversion=3", "3",
                  "https://k.example", ""},
        ParseCase{"Empty", "", "", "", "no version"},
        ParseCase{"HtmlErrorPage", "<html><body>Not here</body></html>\n", "", "",
                  "line 1 is not key=value"},
        ParseCase{"NoHomePage", "version=1.0\n", "", "", "no home page"},
        ParseCase{"VersionWithLetters", "version=1.0beta\nhomepage=https://k.example\n", "", "",
                  "is not numbers joined by dots"},
        ParseCase{"VersionWithEmptyPart", "version=1..2\nhomepage=https://k.example\n", "", "",
                  "is not numbers"},
        ParseCase{"VersionPartTooLong", "version=1.0123456789\nhomepage=https://k.example\n", "",
                  "", "is not numbers"},
        ParseCase{"TwoVersions", "version=1\nversion=2\nhomepage=https://k.example\n", "", "",
                  "given twice"},
        ParseCase{"ScriptLink", "version=1\nhomepage=javascript:alert(1)\n", "", "",
                  "not an http or https address"},
        ParseCase{"LinkWithoutHost", "version=1\nhomepage=https://\n", "", "", "no host"},
        ParseCase{"LinkWithBlank", "version=1\nhomepage=https://k.example/a b\n", "", "",
                  "blank or a control character"},
        ParseCase{"NoKey", "=1\nversion=1\nhomepage=https://k.example\n", "", "",
                  "line 1 has no key"},
        ParseCase{"BinaryBytes", std::string("version=1") + '\0' + "\nhomepage=https://k.example\n",
                  "", "", "not text"}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

struct CompareCase {
  const char* a;
  const char* b;
  int sign;
};

class CompareVersionsTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareVersionsTest, ComparesByNumberPartByPart) {
  const CompareCase& c = GetParam();
  const int r = compareVersions(c.a, c.b);
  EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  const int back = compareVersions(c.b, c.a);
  EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CompareVersionsTest,
    ::testing::Values(CompareCase{"1.10", "1.9", 1}, CompareCase{"0.10.0", "1.0.0", -1},
                      CompareCase{"1.2", "1.2.0", 0}, CompareCase{"1.2.0.1", "1.2", 1},
                      CompareCase{"010", "10", 0}, CompareCase{"999999999", "999999998", 1}));

}  // namespace
}  // namespace kelvrin::update
