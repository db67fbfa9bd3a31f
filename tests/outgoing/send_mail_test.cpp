// SendMAPImail against the test SMTP servers: which server and login it
// takes, what it sends, and what it refuses to send.

#include "outgoing/send_mail.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "outgoing/command_mail.h"
#include "support/scripted_server.h"
#include "support/smtp_test_server.h"

namespace kelvrin::outgoing {
namespace {

using test::SmtpTestServer;

std::string base64Decoded(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    const auto v = kAlphabet.find(c);
    if (v == std::string::npos) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

struct Delivery {
  std::string from, to, data;
};

std::vector<Delivery> deliveries(const SmtpTestServer& server) {
  std::vector<Delivery> out;
  const std::regex line("mail from=(\\S*) to=(\\S*) tls=\\d data=(\\S*)");
  for (const std::string& event : server.Events()) {
    std::smatch m;
    if (std::regex_match(event, m, line)) out.push_back({m[1], m[2], base64Decoded(m[3])});
  }
  return out;
}

int authEvents(const SmtpTestServer& server) {
  int n = 0;
  for (const std::string& event : server.Events())
    n += event.rfind("auth ", 0) == 0;
  return n;
}

std::string headerValue(const std::string& data, const std::string& name) {
  std::smatch m;
  if (std::regex_search(data, m, std::regex("(^|\r\n)" + name + ": ([^\r]*)"))) return m[2];
  return {};
}

class SendMailTest : public test::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    auto& wizard = *kv->KVWForm1;
    wizard.setText("KVWsmtphost", "127.0.0.1");
    kv->State.SmtpConfigured = true;
    sender = std::make_unique<MailSender>(*kv);
    sender->SmtpClient1.SetClock(protocols::DefaultClock());
  }
  void useServer(std::uint16_t port) {
    kv->KVWForm1->setText("SmtpPort", " " + std::to_string(port) + " ");
  }
  bool realServer() {
    if (SmtpTestServer::Available()) return true;
    ADD_FAILURE() << "python3-aiosmtpd is not installed";
    return false;
  }
  std::unique_ptr<MailSender> sender;
};

TEST_F(SendMailTest, OrdinaryMailGoesFromTheOwnAddressWithItsFooter) {
  if (!realServer()) return;
  SmtpTestServer server(SmtpTestServer::Mode::Plain);
  useServer(server.Port());
  ASSERT_TRUE(
      sender->SendMAPImail("", "", false, "Hello\n.\nbye", "Lunch?", "Pal <pal@example.net>"))
      << status();
  EXPECT_FALSE(sender->SmtpClient1.Connected());
  const auto sent = deliveries(server);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].from, "me@example.com");
  EXPECT_EQ(sent[0].to, "pal@example.net");
  EXPECT_EQ(headerValue(sent[0].data, "From"), "<me@example.com>");
  EXPECT_NE(headerValue(sent[0].data, "Reply-To").find("<me@example.com>"), std::string::npos);
  EXPECT_EQ(headerValue(sent[0].data, "Subject"), "Lunch?");
  const std::string body = sent[0].data.substr(sent[0].data.find("\r\n\r\n") + 4);
  EXPECT_EQ(body.rfind("Hello\r\n.\r\nbye\r\n", 0), 0u) << body;
  EXPECT_NE(body.find("Sent with " + kv->State.TitleText), std::string::npos) << body;
  EXPECT_NE(body.find(std::string(kProductWebSite)), std::string::npos);
}

TEST_F(SendMailTest, CommandMailCarriesTheScrambledCodeAndNoUserText) {
  if (!realServer()) return;
  SmtpTestServer server(SmtpTestServer::Mode::Plain);
  useServer(server.Port());
  ASSERT_TRUE(
      sender->SendMAPImail("1004", "pal2@example.org", false, "", "secret plan", "pal@example.net"))
      << status();
  const auto sent = deliveries(server);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(headerValue(sent[0].data, "From"), "<pal2@example.org>");
  const std::string subject = headerValue(sent[0].data, "Subject");
  EXPECT_EQ(subject, CommandSubject("1004", "secret plan"));
  EXPECT_EQ(subject.rfind("kelvrin:", 0), 0u);
  const auto parsed = ParseCommandSubject(subject);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Code, kCodeFlash);
  EXPECT_EQ(parsed->Data, "secret plan");
  EXPECT_EQ(sent[0].data.find("secret plan"), std::string::npos) << "the text travels scrambled";
  EXPECT_NE(sent[0].data.find("system Command message enables extra functions"), std::string::npos);
}

TEST_F(SendMailTest, KeptOpenConnectionCarriesTheNextMailWithoutASecondLogin) {
  if (!realServer()) return;
  SmtpTestServer server(SmtpTestServer::Mode::Plain);
  useServer(server.Port());
  ASSERT_TRUE(sender->SendMAPImail("", "", true, "one", "Kelvrin Fast Email", "a@example.net"));
  EXPECT_TRUE(sender->SmtpClient1.Connected());
  ASSERT_TRUE(sender->SendMAPImail("", "", false, "two", "Kelvrin Fast Email", "b@example.net"));
  EXPECT_FALSE(sender->SmtpClient1.Connected());
  EXPECT_EQ(authEvents(server), 1);
  ASSERT_EQ(deliveries(server).size(), 2u);
  EXPECT_EQ(deliveries(server)[1].to, "b@example.net");
}

// Only bob/secret logs in, so a delivery shows which login was used.
TEST_F(SendMailTest, SecondaryAccountUsesItsOwnServerAndLoginOnlyWhenItHasAHost) {
  if (!realServer()) return;
  SmtpTestServer server(SmtpTestServer::Mode::Plain);
  useServer(server.Port());
  auto& wizard = *kv->KVWForm1;
  kv->KVmain->setChecked("Paccount", false);
  wizard.setText("KVWedUser", "primary");
  wizard.setText("KVWsecsmtphost", "");
  wizard.setText("KVWsecedUser", "bob");
  wizard.setText("KVWSecEdPassword", "secret");
  EXPECT_FALSE(sender->SendMAPImail("", "", false, "x", "s", "a@example.net"))
      << "an empty secondary host leaves the primary server and login";
  EXPECT_EQ(status(), "Status: Unable SMTP connect or login");

  wizard.setText("KVWsmtphost", "smtp.invalid");
  wizard.setText("KVWsecsmtphost", "127.0.0.1");
  EXPECT_TRUE(sender->SendMAPImail("", "", false, "x", "s", "a@example.net")) << status();
  EXPECT_EQ(deliveries(server).size(), 1u);
}

TEST_F(SendMailTest, WithoutSmtpSettingsNothingConnectsAndABalloonSaysWhere) {
  kv->State.SmtpConfigured = false;
  EXPECT_FALSE(sender->SendMAPImail("", "", false, "x", "s", "a@example.net"));
  ASSERT_TRUE(kv->TrayIcon1.LastBalloon());
  EXPECT_EQ(kv->TrayIcon1.LastBalloon()->Title, "Kelvrin:   SMTP setup error....");
  EXPECT_EQ(kv->TrayIcon1.LastBalloon()->Text, "Under Options, enter SMTP details in para 3");
  EXPECT_EQ(kv->TrayIcon1.LastBalloon()->TimeoutSecs, 10);
  EXPECT_FALSE(sender->SmtpClient1.Connected());
}

TEST_F(SendMailTest, ServerWithoutAuthenticationIsAFailedLogin) {
  test::ScriptedServer server(
      "S: 220 smtp.test\nC~ EHLO .*\nS: 250 smtp.test\nC: QUIT\nS: 221 bye\n");
  useServer(server.Port());
  EXPECT_FALSE(sender->SendMAPImail("", "", false, "x", "s", "a@example.net"));
  EXPECT_EQ(status(), "Status: Unable SMTP connect or login");
  EXPECT_TRUE(server.Finished());
}

struct RefusedCase {
  const char* name;
  const char* subject;
  const char* to;
  const char* cc;
  const char* why;
};

class RefusedInputTest : public SendMailTest, public ::testing::WithParamInterface<RefusedCase> {};

// Nothing connects: a listener that would take the mail is never asked.
TEST_P(RefusedInputTest, IsRefusedBeforeConnecting) {
  const RefusedCase& c = GetParam();
  test::ScriptedServer server("");
  useServer(server.Port());
  EXPECT_FALSE(sender->SendMAPImail("", "", false, "body", c.subject, c.to, c.cc));
  EXPECT_EQ(status(), std::string("Status: message NOT sent: ") + c.why);
  EXPECT_TRUE(server.ClientLog().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedInputTest,
    ::testing::Values(RefusedCase{"NoAddress", "s", " , ", "", "no recipient address"},
                      RefusedCase{"NotAnAddress", "s", "pal", "", "\"pal\" is not a mail address"},
                      RefusedCase{"SubjectInjection", "hi\r\nBcc: victim@example.org",
                                  "a@example.net", "", "the subject holds a line break"},
                      RefusedCase{"AddressInjection", "s", "a@example.net\nBcc: victim@example.org",
                                  "", "an address holds a line break"},
                      RefusedCase{"CcInjection", "s", "a@example.net", "b@example.net\r\nX: y",
                                  "an address holds a line break"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::outgoing
