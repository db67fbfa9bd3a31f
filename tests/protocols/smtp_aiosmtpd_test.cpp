// TSmtpClient against a real SMTP server (aiosmtpd) started for each test.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mail/codecs.h"
#include "protocols/smtp_client.h"
#include "support/smtp_test_server.h"

namespace kelvrin::protocols {
namespace {

using test::SmtpTestServer;

struct SmtpServerCase {
  const char* name;
  SmtpTestServer::Mode mode;
  bool offerLogin;
  SecurityMode security;
  const char* mechanism;
  int tls;
};

std::string decodeBase64(const std::string& text) {
  std::string out;
  mail::StringSink sink(out);
  mail::TBase64DecodingStream decoder(sink);
  decoder.Write(text.data(), text.size());
  return out;
}

class SmtpRealServerTest : public ::testing::TestWithParam<SmtpServerCase> {
 protected:
  void SetUp() override {
    if (!SmtpTestServer::Available()) {
      GTEST_SKIP() << SmtpTestServer::kPython
                   << " with the aiosmtpd module is not installed (Debian package "
                      "python3-aiosmtpd)";
    }
    server = std::make_unique<SmtpTestServer>(GetParam().mode, GetParam().offerLogin);
  }
  std::unique_ptr<SmtpTestServer> server;
};

TEST_P(SmtpRealServerTest, AuthenticatesAndDeliversOneTransactionPerRecipientList) {
  TSmtpClient client;
  client.Host = GetParam().security == SecurityMode::None ? "127.0.0.1" : "localhost";
  client.Port = std::to_string(server->Port());
  client.Security = GetParam().security;
  client.CaFile = server->CaFile();
  client.UserId = server->User();
  client.UserPasswd = server->Password();
  client.LocalDomainName = "example.org";
  ASSERT_TRUE(client.Connect()) << client.LastErrorText;
  ASSERT_TRUE(client.Login());

  mail::TMailMessage msg;
  msg.SetFrom("\"Bob\" <bob@example.org>");
  msg.SetSendTo("\"Ann\" <ann@example.net>");
  msg.SetCC("cy@example.net");
  msg.Subject = "Hello from the test";
  msg.Text = {"first line", ".leading dot", "last line"};
  msg.SetLocalHost("client.example.org");
  ASSERT_TRUE(client.SendMail(msg));
  client.Quit();

  const std::vector<std::string> events = server->Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], std::string("auth ") + GetParam().mechanism +
                           " ok tls=" + std::to_string(GetParam().tls));
  const std::string tls = " tls=" + std::to_string(GetParam().tls) + " data=";
  EXPECT_EQ(events[1].rfind("mail from=bob@example.org to=ann@example.net" + tls, 0), 0u)
      << events[1];
  EXPECT_EQ(events[2].rfind("mail from=bob@example.org to=cy@example.net" + tls, 0), 0u)
      << events[2];
  const std::string data = decodeBase64(events[1].substr(events[1].find(" data=") + 6));
  EXPECT_NE(data.find("Subject: Hello from the test\r\n"), std::string::npos) << data;
  EXPECT_NE(data.find("\r\n.leading dot\r\n"), std::string::npos) << data;
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SmtpRealServerTest,
    ::testing::Values(SmtpServerCase{"AuthLogin", SmtpTestServer::Mode::Plain, true,
                                     SecurityMode::None, "LOGIN", 0},
                      SmtpServerCase{"AuthPlain", SmtpTestServer::Mode::Plain, false,
                                     SecurityMode::None, "PLAIN", 0},
                      SmtpServerCase{"StartTls", SmtpTestServer::Mode::StartTls, true,
                                     SecurityMode::StartTls, "LOGIN", 1},
                      SmtpServerCase{"ImplicitTls", SmtpTestServer::Mode::ImplicitTls, true,
                                     SecurityMode::ImplicitTls, "LOGIN", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SmtpRealServerRefusal, WrongPasswordIsNotAuthenticated) {
  if (!SmtpTestServer::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed";
  SmtpTestServer server(SmtpTestServer::Mode::Plain);
  TSmtpClient client;
  client.Host = "127.0.0.1";
  client.Port = std::to_string(server.Port());
  client.UserId = server.User();
  client.UserPasswd = "wrong";
  ASSERT_TRUE(client.Connect()) << client.LastErrorText;
  EXPECT_FALSE(client.Login());
  EXPECT_FALSE(client.Authenticated);
}

}  // namespace
}  // namespace kelvrin::protocols
