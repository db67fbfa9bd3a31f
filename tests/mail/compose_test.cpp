#include "mail/compose.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "mail/mail_message.h"

namespace kelvrin::mail {
namespace {

ComposeTime at(int year, int month, int day, int wday, int h, int m, int s, long offset) {
  ComposeTime t;
  t.Local.tm_year = year - 1900;
  t.Local.tm_mon = month - 1;
  t.Local.tm_mday = day;
  t.Local.tm_wday = wday;
  t.Local.tm_hour = h;
  t.Local.tm_min = m;
  t.Local.tm_sec = s;
  t.UtcOffsetSeconds = offset;
  return t;
}

const ComposeTime kMarch5 = at(2002, 3, 5, 2, 10, 20, 30, 13 * 3600);

struct DateCase {
  const char* name;
  ComposeTime time;
  std::string expected;
};

class DateLine : public testing::TestWithParam<DateCase> {};

TEST_P(DateLine, Formats) {
  EXPECT_EQ(FormatDateLine(GetParam().time), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    FormatDateLine, DateLine,
    testing::Values(DateCase{"EastOfUtc", kMarch5, "Tue, 5 Mar 2002 10:20:30 +1300"},
                    DateCase{"Utc", at(2024, 12, 31, 2, 23, 59, 59, 0),
                             "Tue, 31 Dec 2024 23:59:59 -0000"},
                    DateCase{"WestOfUtc", at(2001, 1, 7, 0, 0, 0, 5, -5 * 3600),
                             "Sun, 7 Jan 2001 00:00:05 -0500"},
                    DateCase{"HalfHourEast", at(2010, 7, 16, 5, 9, 5, 0, 5 * 3600 + 1800),
                             "Fri, 16 Jul 2010 09:05:00 +0530"},
                    DateCase{"HalfHourWest", at(2010, 11, 20, 6, 9, 5, 0, -(3 * 3600 + 1800)),
                             "Sat, 20 Nov 2010 09:05:00 -0330"}),
    [](const auto& info) { return info.param.name; });

// Pins the zone through TZ so the machine's own zone does not matter.
class WithZone {
 public:
  explicit WithZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~WithZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(ComposeTime, TakesTheOffsetInEffectAtThatMoment) {
  WithZone zone("NZST-12NZDT,M9.5.0,M4.1.0/3");
  // 2002-03-04 21:20:30 UTC is 10:20:30 the next day in New Zealand summer.
  EXPECT_EQ(FormatDateLine(ComposeTime::FromTimeT(1015276830)), "Tue, 5 Mar 2002 10:20:30 +1300");
  // Three months later standard time is in effect.
  EXPECT_EQ(FormatDateLine(ComposeTime::FromTimeT(1015276830 + 92 * 86400)),
            "Wed, 5 Jun 2002 09:20:30 +1200");
}

TEST(ComposeTime, UtcWithoutDaylightSavingGivesMinusZero) {
  WithZone zone("UTC0");
  EXPECT_EQ(FormatDateLine(ComposeTime::FromTimeT(1015276830)), "Mon, 4 Mar 2002 21:20:30 -0000");
}

TEST(MakeMessageId, AddressPartFromDottedIpv4) {
  const std::string id = MakeMessageId(kMarch5, "192.168.1.10", "mail.example.org");
  EXPECT_TRUE(std::regex_match(
      id, std::regex(R"(<ZOV20020305\$C0A8010A\.\$[0-9A-F]{8}@mail\.example\.org>)")))
      << id;
}

TEST(MakeMessageId, RandomAddressPartWhenBlankOrNotIpv4) {
  const std::regex shape(R"(<ZOV20020305\$[0-9A-F]{8}\.\$[0-9A-F]{8}@h>)");
  for (const char* addr : {"", "   ", "fe80::1", "1.2.3", "1.2.3.400", "a.b.c.d"}) {
    const std::string id = MakeMessageId(kMarch5, addr, "h");
    EXPECT_TRUE(std::regex_match(id, shape)) << addr << " gave " << id;
  }
}

class ComposeTest : public testing::Test {
 protected:
  void SetUp() override {
    m_.SetFrom("Ann Example <ann@example.org>");
    m_.SetSendTo("Bob <bob@example.net>");
    m_.Subject = "Hello";
    m_.Text = {"Hi Bob,", ".", ".hidden", "", "bye"};
    m_.SetLocalHost("host.example.org");
    m_.LocalAddr = "10.0.0.1";
  }
  TMailMessage m_;
};

TEST_F(ComposeTest, WritesHeaderBlankLineAndStuffedBody) {
  m_.Compose(kMarch5);
  ASSERT_EQ(m_.RawMail.size(), 11u + 5);
  EXPECT_EQ(m_.DateText, "Tue, 5 Mar 2002 10:20:30 +1300");
  EXPECT_EQ(m_.RawMail[0], "Date: Tue, 5 Mar 2002 10:20:30 +1300");
  EXPECT_EQ(m_.RawMail[1], "Subject: Hello");
  EXPECT_EQ(m_.RawMail[2], "From: \"Ann Example\" <ann@example.org>");
  EXPECT_EQ(m_.RawMail[3], "Reply-To: \"Ann Example\" <ann@example.org>");
  EXPECT_EQ(m_.RawMail[4], "To: \"Bob\" <bob@example.net>");
  EXPECT_TRUE(std::regex_match(
      m_.RawMail[5],
      std::regex(R"(Message-ID: <ZOV20020305\$0A000001\.\$[0-9A-F]{8}@host\.example\.org>)")))
      << m_.RawMail[5];
  EXPECT_EQ(m_.RawMail[6], "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"");
  EXPECT_EQ(m_.RawMail[7], "Content-Transfer-Encoding: 8Bit");
  EXPECT_EQ(m_.RawMail[8], "X-Priority: 3");
  EXPECT_EQ(m_.RawMail[9], "MIME-Version: 1.0");
  EXPECT_EQ(m_.RawMail[10], "");
  EXPECT_EQ(std::vector<std::string>(m_.RawMail.begin() + 11, m_.RawMail.end()),
            (std::vector<std::string>{"Hi Bob,", "..", "..hidden", "", "bye"}));
}

TEST_F(ComposeTest, ThreeRecipientsFoldOverThreeLines) {
  m_.SetSendTo("a@x.com, \"B, b\" <b@y.com>, C <c@z.com>");
  m_.Compose(kMarch5);
  EXPECT_EQ(m_.RawMail[4], "To: <a@x.com>,\r\n\t\"B, b\" <b@y.com>,\r\n\t\"C\" <c@z.com>");
}

TEST_F(ComposeTest, ReplyToOfNamelessAddressQuotesTheLocalPart) {
  m_.SetFrom("<jd@x.com>");
  m_.SetReplyTo("<jd@x.com>");
  m_.Compose(kMarch5);
  EXPECT_EQ(m_.RawMail[2], "From: <jd@x.com>");
  EXPECT_EQ(m_.RawMail[3], "Reply-To: \"jd\" <jd@x.com>");
}

TEST_F(ComposeTest, MissingSenderRaisesAndLeavesRawMailEmpty) {
  m_.RawMail = {"old"};
  m_.SetFrom("nobody");
  try {
    m_.Compose(kMarch5);
    FAIL() << "no error";
  } catch (const MailError& e) {
    EXPECT_STREQ(e.what(), "\"From\" address not complete.");
  }
  EXPECT_TRUE(m_.RawMail.empty());
}

TEST_F(ComposeTest, MissingRecipientsRaiseAndLeaveRawMailEmpty) {
  m_.SendToList.Clear();
  try {
    m_.Compose(kMarch5);
    FAIL() << "no error";
  } catch (const MailError& e) {
    EXPECT_STREQ(e.what(), "No e-mail addresses in the SendTo field.");
  }
  EXPECT_TRUE(m_.RawMail.empty());
}

TEST_F(ComposeTest, SecondComposeKeepsDateButNewMessageId) {
  m_.Compose(kMarch5);
  const std::string firstId = m_.RawMail[5];
  m_.Compose(at(2003, 1, 1, 3, 0, 0, 0, 0));
  EXPECT_EQ(m_.RawMail[0], "Date: Tue, 5 Mar 2002 10:20:30 +1300");
  EXPECT_NE(m_.RawMail[5], firstId);
}

TEST_F(ComposeTest, ComposeWithoutTimeUsesTheClock) {
  WithZone zone("UTC0");
  m_.Compose();
  EXPECT_TRUE(std::regex_match(
      m_.DateText,
      std::regex(
          R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d{1,2} [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d -0000)")))
      << m_.DateText;
}

TEST_F(ComposeTest, PriorityAndCharSet) {
  const std::pair<TPriority, const char*> cases[] = {{TPriority::prHighest, "1"},
                                                     {TPriority::prHigh, "2"},
                                                     {TPriority::prLow, "4"},
                                                     {TPriority::prLowest, "5"}};
  m_.CharSet = "UTF-8";
  for (const auto& [priority, number] : cases) {
    m_.Priority = priority;
    m_.Compose(kMarch5);
    EXPECT_EQ(m_.RawMail[8], std::string("X-Priority: ") + number);
  }
  EXPECT_EQ(m_.RawMail[6], "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"");
}

TEST_F(ComposeTest, LineBreaksCannotInjectHeadersOrEndTheData) {
  m_.Subject = "Hi\r\nBcc: victim@example.com";
  m_.SendToList.Items(0).Name = "Bob\r\nX-Evil: 1";
  m_.Text = {"one\r\n.\r\ntwo"};
  m_.Compose(kMarch5);
  EXPECT_EQ(m_.RawMail[1], "Subject: Hi  Bcc: victim@example.com");
  EXPECT_EQ(m_.RawMail[4], "To: \"Bob  X-Evil: 1\" <bob@example.net>");
  EXPECT_EQ(std::vector<std::string>(m_.RawMail.begin() + 11, m_.RawMail.end()),
            (std::vector<std::string>{"one", "..", "two"}));
}

}  // namespace
}  // namespace kelvrin::mail
