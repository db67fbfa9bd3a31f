// Command mails on receipt: what each code does, what stays on the server,
// and that none of them reaches the list.

#include "outgoing/sys_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "app/app_fixture.h"
#include "filter/string_match.h"
#include "mail/codecs.h"
#include "notify/sound_player.h"
#include "support/scripted_server.h"

namespace kelvrin::outgoing {
namespace {

class FixedAddress final : public app::DialUp {
 public:
  std::string AddressText() override { return "203.0.113.7"; }
};

struct ReceiptCase {
  const char* name;
  std::string subject;
  std::optional<std::string> returnPath;  // nothing: no Return-Path header
  int code;
  std::string from;  // the sender the record names
  bool deleted;
  const char* balloonTitle;  // "" : no balloon
  const char* balloonText;
};

std::string scrambled(const std::string& text) {
  std::string s = text;
  filter::ScrambleText(s);
  return s;
}

class ReceiptTest : public test::AppFixture, public ::testing::WithParamInterface<ReceiptCase> {
 protected:
  ReceiptTest() : AppFixture(/*useMailbox=*/true) {}
  void SetUp() override {
    AppFixture::SetUp();
    auto commandMails = std::make_unique<CommandMails>(*kv);
    commands = commandMails.get();
    kv->setSysMessages(std::move(commandMails));
    auto player = std::make_unique<notify::RecordingSoundPlayer>();
    sounds = player.get();
    kv->setSoundPlayer(std::move(player));
    kv->setDialUp(std::make_unique<FixedAddress>());
    kv->KVmain->setChecked("SndEnable1", true);
    kv->Favourites1->Add("pal@example.net,198.51.100.1");
    // Every balloon shown, so that the check's own does not hide the command's.
    kv->TrayIcon1.changed().add([this] {
      if (kv->TrayIcon1.BalloonShowCount() != seenCount) {
        seenCount = kv->TrayIcon1.BalloonShowCount();
        balloons.push_back(*kv->TrayIcon1.LastBalloon());
      }
    });
  }
  std::vector<notify::BalloonHint> commandBalloons() const {
    std::vector<notify::BalloonHint> out;
    for (const auto& b : balloons) {
      if (b.Title.find("Kelvrin:") != 0) out.push_back(b);
    }
    return out;
  }
  int seenCount = 0;
  std::vector<notify::BalloonHint> balloons;
  CommandMails* commands = nullptr;
  notify::RecordingSoundPlayer* sounds = nullptr;
};

test::MailboxMessage commandMessage(const ReceiptCase& c) {
  test::MailboxMessage m;
  m.id = "cmd";
  if (c.returnPath) m.headers.push_back("Return-Path: " + *c.returnPath);
  m.headers.push_back("From: Pal <pal.from@example.net>");
  m.headers.push_back("To: me@example.com");
  m.headers.push_back("Subject: " + c.subject);
  m.headers.push_back("Date: Mon, 3 Mar 2025 10:00:00 +0100");
  m.body = {"This system Command message"};
  return m;
}

TEST_P(ReceiptTest, IsActedOnAndNeverListed) {
  const ReceiptCase& c = GetParam();
  auto box = test::MixedMailbox(2);  // v1 v2
  box.insert(box.begin() + 1, commandMessage(c));
  mailbox.mailbox = box;
  check();

  ASSERT_EQ(commands->LastReceived().size(), 1u);
  const CommandRecord& r = commands->LastReceived()[0];
  EXPECT_EQ(r.Code, c.code);
  EXPECT_EQ(r.From, c.from);
  EXPECT_EQ(r.Handled, c.deleted);
  std::set<std::string> left = {"v1", "v2"};
  if (!c.deleted) left.insert("cmd");
  EXPECT_EQ(mailbox.Ids(), left);
  // The ordinary mails are listed and counted; the command mail is not.
  ASSERT_EQ(kv->VTree1.RootNodeCount(), 2u);
  for (const auto& row : kv->VTree1.rows())
    EXPECT_EQ(row.Node.Subject.find("kelvrin"), std::string::npos);
  EXPECT_EQ(kv->State.ValidCount, 2);
  const auto shown = commandBalloons();
  if (*c.balloonTitle == '\0') {
    EXPECT_TRUE(shown.empty());
  } else {
    // A pending flash has its balloon shown again by the check's end.
    ASSERT_GE(shown.size(), 1u);
    EXPECT_EQ(shown[0].Title, c.balloonTitle);
    EXPECT_EQ(shown[0].Text, c.balloonText);
  }
}

const std::string kDate = "Mon, 3 Mar 2025 10:00:00 ";

INSTANTIATE_TEST_SUITE_P(
    Codes, ReceiptTest,
    ::testing::Values(
        ReceiptCase{"Greeting", "kelvrin:" + scrambled("1001Happy birthday"), "<pal@example.net>",
                    1001, "pal@example.net", true, "Kelvrin Greeting from pal@example.net",
                    "Happy birthday"},
        ReceiptCase{"FlashBehindOtherTextInCapitals", "Fwd: KELVRIN:" + scrambled("1004Call me"),
                    "<pal@example.net>", 1004, "pal@example.net", true,
                    "Flash from pal@example.net Click Balloon to Reply",
                    "Dated:Mon, 3 Mar 2025 10:00:00 \rCall me"},
        ReceiptCase{"FlashFromOurOwnAddress", "kelvrin:" + scrambled("1004note to self"),
                    "<me@example.com>", 1004, "me@example.com", true,
                    "Flash from me@example.com Click Balloon to Reply",
                    "Dated:Mon, 3 Mar 2025 10:00:00 \rnote to self"},
        ReceiptCase{"GreetingWithoutReturnPathNamesTheFromAddress",
                    "kelvrin:" + scrambled("1001hi"), std::nullopt, 1001, "pal.from@example.net",
                    true, "Kelvrin Greeting from pal.from@example.net", "hi"},
        ReceiptCase{"EnableCommunications", "kelvrin:" + scrambled("1003Welcome"),
                    "<pal@example.net>", 1003, "pal@example.net", true,
                    "Kelvrin mail Command:", "Welcome"},
        ReceiptCase{"CodeZeroIsCorruptAndStays", "kelvrin:" + scrambled("0000x"),
                    "<pal@example.net>", 0, "pal@example.net", false,
                    "Kelvrin mail command received:",
                    "Message corrupt, please contact support@kelvrin.example"},
        ReceiptCase{"NotANumberIsCorruptAndStays", "kelvrin:" + scrambled("12a4x"),
                    "<pal@example.net>", 0, "pal@example.net", false,
                    "Kelvrin mail command received:",
                    "Message corrupt, please contact support@kelvrin.example"},
        ReceiptCase{"TooShortToHoldACode", "kelvrin:" + scrambled("10"), "<pal@example.net>", 0,
                    "pal@example.net", false, "Kelvrin mail command received:",
                    "Message corrupt, please contact support@kelvrin.example"},
        ReceiptCase{"UnknownCodeIsOnlyDeleted", "kelvrin:" + scrambled("2000?"),
                    "<pal@example.net>", 2000, "pal@example.net", true, "", ""},
        ReceiptCase{"AddressAnswerFromOurOwnAddressIsOnlyDeleted",
                    "kelvrin:" + scrambled("10401.2.3.4"), "<me@example.com>", 1040,
                    "me@example.com", true, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

class CommandMailsTest : public ReceiptTest {};

TEST_F(CommandMailsTest, FlashSetsTheReplyAndAnsweringItGoesToTheLatestSender) {
  ReceiptCase first{"", "kelvrin:" + scrambled("1004one"), "<pal@example.net>", 0, "", true, "",
                    ""};
  ReceiptCase second{"", "kelvrin:" + scrambled("1004two"), "<other@example.org>", 0, "", true, "",
                     ""};
  auto box = test::MixedMailbox(1);
  box.push_back(commandMessage(first));
  box.push_back(commandMessage(second));
  box.back().id = "cmd2";
  mailbox.mailbox = box;
  check();
  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1"}));
  EXPECT_TRUE(kv->State.FlashPending);
  EXPECT_EQ(commands->FlashSender(), "other@example.org");
  ASSERT_GE(sounds->played.size(), 2u);
  EXPECT_EQ(sounds->played[0], notify::Sound::WaveNewEM1) << "each flash has its sound";
  EXPECT_EQ(sounds->played[1], notify::Sound::WaveNewEM1);
}

TEST_F(CommandMailsTest, EnablingCommunicationsShowsTheTabAndStoresIt) {
  ReceiptCase c{"", "kelvrin:" + scrambled("1003hello"), "<pal@example.net>", 0, "", true, "", ""};
  mailbox.mailbox = {commandMessage(c)};
  check();
  EXPECT_TRUE(kv->TabSheet2Visible);
  EXPECT_TRUE(kv->Settings.Comms());
  EXPECT_TRUE(mailbox.Ids().empty());
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 0u);
}

TEST_F(CommandMailsTest, AddressRequestReplacesTheFavouriteAndIsAnsweredWithOurAddress) {
  ReceiptCase c{"", "kelvrin:" + scrambled("1030192.0.2.44"), "<PAL@example.net>", 0, "", true, "",
                ""};
  auto box = test::MixedMailbox(1);
  box.insert(box.begin(), commandMessage(c));
  mailbox.mailbox = box;
  const std::string answer = CommandSubject("1040", "203.0.113.7");
  test::ScriptedServer smtp(
      "S: 220 smtp.test\nC~ EHLO .*\nS: 250-smtp.test\nS: 250 AUTH PLAIN\n"
      "C: AUTH PLAIN " +
      mail::TBase64Codec::Encode(std::string("\0bob\0secret", 11)) +
      "\nS: 235 ok\nC: MAIL FROM:<me@example.com>\nS: 250 ok\nC: RCPT TO:<pal@example.net>\n"
      "S: 250 ok\nC: DATA\nS: 354 go\n");
  kv->KVWForm1->setText("KVWsmtphost", "127.0.0.1");
  kv->KVWForm1->setText("SmtpPort", smtp.PortText());
  kv->State.SmtpConfigured = true;
  commands->Sender().SmtpClient1.SetClock(protocols::DefaultClock());
  commands->Sender().SmtpClient1.TimeOut = 2000;
  check();
  // The script ends at DATA: what matters is whom the answer went to and
  // what it said.
  const std::string log = smtp.ClientLog();
  EXPECT_NE(log.find("RCPT TO:<pal@example.net>"), std::string::npos) << log;
  EXPECT_NE(log.find("Subject: " + answer + "\r\n"), std::string::npos) << log;
  const auto& entries = kv->Favourites1->entries();
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "PAL@example.net,192.0.2.44"), 1);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "pal@example.net,198.51.100.1"), 0)
      << "the old entry is replaced";
  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1"}));
  // The check goes on in a new session after the answer: the listed mail
  // is there, and its number is not trusted for a deletion without ids.
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 1u);
  EXPECT_NE(kv->State.SessionSerial, kv->State.ListedSession);
}

}  // namespace
}  // namespace kelvrin::outgoing
