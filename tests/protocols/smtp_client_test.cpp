// Dialogues of TSmtpClient against the scripted server, and its address
// routines.

#include "protocols/smtp_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support/fake_socket.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace kelvrin::protocols {
namespace {

using test::ScriptedServer;

std::string localName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// The HELO/EHLO argument for a connection to 127.0.0.1: the bare local name
// unless it is an address.
std::string heloPattern(const char* verb) {
  return std::string("C~ ") + verb + " " +
         std::regex_replace(localName(), std::regex(R"([.])"), R"(\.)") + "\n";
}

const char* const kEhloBoth = "S: 250-mail.example\nS: 250-AUTH LOGIN PLAIN\nS: 250 8BITMIME\n";

class SmtpClientTest : public ::testing::Test {
 protected:
  SmtpClientTest() {
    client.OnError = [this](TSmtpClient&, std::int32_t code, const std::string& msg) {
      errors.emplace_back(code, msg);
    };
    client.UserId = "bob";
    client.UserPasswd = "secret";
  }

  void connectTo(const ScriptedServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.PortText();
    ASSERT_TRUE(client.Connect()) << client.LastErrorText;
  }

  // A message whose raw lines are given, so no composition takes place.
  static void fill(mail::TMailMessage& msg, const char* to, const char* cc,
                   mail::TStringList lines) {
    msg.SetFrom("\"Bob\" <Bob@Example.org>");
    msg.SetSendTo(to);
    if (cc != nullptr) msg.SetCC(cc);
    msg.RawMail = std::move(lines);
  }

  std::string greeting() const { return "S: 220 smtp ready\n" + heloPattern("EHLO"); }

  test::TempDir tmp;
  TSmtpClient client;
  std::vector<std::pair<std::int32_t, std::string>> errors;
};

TEST_F(SmtpClientTest, WithoutCredentialsGreetsWithHeloAndCannotAuthenticate) {
  ScriptedServer server("S: 220 hi\n" + heloPattern("HELO") +
                        "S: 250 hello AUTH LOGIN PLAIN\nC: QUIT\nS: 221 bye\n");
  client.UserId.clear();
  client.UserPasswd.clear();
  connectTo(server);
  EXPECT_EQ(client.LocalHost(),
            localName().find('.') == std::string::npos ? localName() : localName());
  EXPECT_FALSE(client.Login());
  client.Quit();
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpClientTest, LocalNameWithoutDotIsCompletedWithTheDomain) {
  if (localName().find('.') != std::string::npos) GTEST_SKIP() << "the local name has a dot";
  ScriptedServer server("S: 220 hi\nC: EHLO " + localName() + ".example.org\nS: 250 ok\n");
  client.LocalDomainName = "example.org";
  client.Host = "localhost";
  client.Port = server.PortText();
  ASSERT_TRUE(client.Connect());
  EXPECT_EQ(client.LocalHost(), localName() + ".example.org");
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpClientTest, MultiLineEhloReplyInPiecesIsReadWholeAndTellsTheMechanisms) {
  ScriptedServer server(greeting() +
                        "S~ 250-mail.example\\r\\n250-AUTH LOG\nP: 80\n"
                        "S~ IN\\r\\n250-SIZE 100\nP: 80\nS~ 0\\r\\n250 PLAIN\\r\\n\n"
                        "C: NOOP\nS: 250 ok\n");
  connectTo(server);
  EXPECT_TRUE(client.AuthLoginOffered);
  EXPECT_TRUE(client.AuthPlainOffered);
  EXPECT_EQ(client.ReplyCode, "250");
  client.SendText("NOOP\r\n");
  client.ReceiveText();
  EXPECT_EQ(client.ReplyText, "ok");
  EXPECT_TRUE(server.Finished());
}

struct LoginCase {
  const char* name;
  const char* ehlo;
  const char* dialogue;
  bool authenticated;
  bool stillConnected;
};

class SmtpLoginTest : public SmtpClientTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(SmtpLoginTest, AuthenticatesOrFallsBack) {
  ScriptedServer server(greeting() + GetParam().ehlo + GetParam().dialogue);
  connectTo(server);
  EXPECT_EQ(client.Login(), GetParam().authenticated);
  EXPECT_EQ(client.Authenticated, GetParam().authenticated);
  EXPECT_EQ(client.Connected(), GetParam().stillConnected);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, SmtpLoginTest,
    ::testing::Values(
        LoginCase{"AuthLogin", "S: 250-x\nS: 250 AUTH LOGIN\n",
                  "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: Ym9i\nS: 334 UGFzc3dvcmQ6\n"
                  "C: c2VjcmV0\nS: 235 ok\n",
                  true, true},
        LoginCase{"RefusedPasswordFallsBackToPlain", kEhloBoth,
                  "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: Ym9i\nS: 334 UGFzc3dvcmQ6\n"
                  "C: c2VjcmV0\nS: 535 no\nC: AUTH PLAIN AGJvYgBzZWNyZXQ=\nS: 235 ok\n",
                  true, true},
        LoginCase{"OnlyPlain", "S: 250-x\nS: 250 AUTH PLAIN\n",
                  "C: AUTH PLAIN AGJvYgBzZWNyZXQ=\nS: 235 ok\n", true, true},
        LoginCase{"LoginNotUnderstoodFallsBackToPlain", kEhloBoth,
                  "C: AUTH LOGIN\nS: 504 unknown\nC: AUTH PLAIN AGJvYgBzZWNyZXQ=\nS: 235 ok\n",
                  true, true},
        LoginCase{"NeitherOffered", "S: 250-x\nS: 250 AUTH CRAM-MD5\n", "", false, true},
        LoginCase{"RefusedUserNameEndsTheSession", kEhloBoth,
                  "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: Ym9i\nS: 535 who\n", false, false},
        LoginCase{"PlainRefused", "S: 250 AUTH PLAIN\n",
                  "C: AUTH PLAIN AGJvYgBzZWNyZXQ=\nS: 535 no\n", false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SmtpClientTest, LoginWhenNotConnectedRaises) {
  try {
    client.Login();
    FAIL() << "no exception";
  } catch (const SmtpError& error) {
    EXPECT_STREQ(error.what(), "Invalid Op. Not connected.");
  }
}

TEST_F(SmtpClientTest, EachRecipientListGetsItsOwnTransactionFollowedByRset) {
  const std::string transaction =
      "C: DATA\nS: 354 go\nC: Subject: hi\nC: \nC: ..dots\nC: \nC: .\nS: 250 queued\n"
      "C: RSET\nS: 250 reset\n";
  ScriptedServer server(greeting() + kEhloBoth +
                        "C: MAIL FROM:<Bob@Example.org>\nS: 250 ok\nC: RCPT TO:<ann@example.org>\n"
                        "S: 250 ok\n" +
                        transaction +
                        "C: MAIL FROM:<Bob@Example.org>\nS: 250 ok\nC: RCPT TO:<cy@example.org>\n"
                        "S: 250 ok\n" +
                        transaction);
  connectTo(server);
  mail::TMailMessage msg;
  fill(msg, "\"Ann, A.\" <Ann@Example.org>", "cy@example.org", {"Subject: hi", "", "..dots"});
  int before = 0;
  int after = 0;
  client.OnBeforeSend = [&](TSmtpClient&) { ++before; };
  client.OnAfterSend = [&](TSmtpClient&) { ++after; };
  EXPECT_TRUE(client.SendMail(msg));
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_TRUE(client.Connected());
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpClientTest, ConnectionDroppedBeforeAReplyRaisesInsteadOfReusingTheLastCode) {
  ScriptedServer server(greeting() + kEhloBoth + "C: MAIL FROM:<Bob@Example.org>\nX:\n");
  connectTo(server);
  mail::TMailMessage msg;
  fill(msg, "a@x.org", nullptr, {"body"});
  try {
    client.SendMail(msg);
    FAIL() << "the EHLO reply's 250 passed for the MAIL FROM reply";
  } catch (const SmtpError& error) {
    EXPECT_STREQ(error.what(), "Receive Failed.  No Longer Connected.");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpClientTest, BlindCopiesGetATransactionOfTheirOwn) {
  ScriptedServer server(
      greeting() + kEhloBoth +
      "C: MAIL FROM:<Bob@Example.org>\nS: 250 ok\nC: RCPT TO:<a@x.org>\nS: 250 ok\n"
      "C: DATA\nS: 354 go\nC: body\nC: \nC: .\nS: 250 ok\nC: RSET\nS: 250 ok\n"
      "C: MAIL FROM:<Bob@Example.org>\nS: 250 ok\nC: RCPT TO:<b@x.org>\nS: 250 ok\n"
      "C: RCPT TO:<c@x.org>\nS: 250 ok\n"
      "C: DATA\nS: 354 go\nC: body\nC: \nC: .\nS: 250 ok\nC: RSET\nS: 250 ok\n");
  connectTo(server);
  mail::TMailMessage msg;
  fill(msg, "a@x.org", nullptr, {"body"});
  msg.SetBCC("b@x.org, <C@X.org>");
  EXPECT_TRUE(client.SendMail(msg));
  EXPECT_TRUE(server.Finished());
}

struct TransactionCase {
  const char* name;
  const char* dialogue;
  int result;
};

class SmtpTransactionTest : public SmtpClientTest,
                            public ::testing::WithParamInterface<TransactionCase> {};

TEST_P(SmtpTransactionTest, ReturnsWhereItStopped) {
  ScriptedServer server(greeting() + kEhloBoth + "C: MAIL FROM:<f@x.org>\n" + GetParam().dialogue);
  connectTo(server);
  EXPECT_EQ(client.SendTransaction("f@x.org", {"a@x.org", "b@x.org"}, {"line"}), GetParam().result);
  EXPECT_EQ(client.Failed, GetParam().result < 0);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SmtpTransactionTest,
    ::testing::Values(
        TransactionCase{"Delivered",
                        "S: 250 ok\nC: RCPT TO:<a@x.org>\nS: 250 ok\nC: RCPT TO:<b@x.org>\n"
                        "S: 250 ok\nC: DATA\nS: 354 go\nC: line\nC: \nC: .\nS: 250 ok\n"
                        "C: RSET\nS: 250 ok\n",
                        1},
        TransactionCase{"MultiLineReplyCountsByItsLastLine",
                        "S: 250-first\nS: 250 ok\nC: RCPT TO:<a@x.org>\nS: 250 ok\n"
                        "C: RCPT TO:<b@x.org>\nS: 250 ok\nC: DATA\nS: 354 go\nC: line\nC: \n"
                        "C: .\nS: 250-queued\nS: 250 as 1\nC: RSET\nS: 250 ok\n",
                        1},
        TransactionCase{"MailFromRefused", "S: 550 no\n", -1},
        TransactionCase{"MultiLineRefusal", "S: 250-fine so far\nS: 550 but no\n", -1},
        TransactionCase{"RecipientRefused",
                        "S: 250 ok\nC: RCPT TO:<a@x.org>\nS: 250 ok\nC: RCPT TO:<b@x.org>\n"
                        "S: 550 unknown\n",
                        -2},
        TransactionCase{"ForwardedRecipientCountsAsRefused",
                        "S: 250 ok\nC: RCPT TO:<a@x.org>\nS: 251 will forward\n", -2},
        TransactionCase{"DataRefused",
                        "S: 250 ok\nC: RCPT TO:<a@x.org>\nS: 250 ok\nC: RCPT TO:<b@x.org>\n"
                        "S: 250 ok\nC: DATA\nS: 554 no\n",
                        -3},
        TransactionCase{"MessageRefused",
                        "S: 250 ok\nC: RCPT TO:<a@x.org>\nS: 250 ok\nC: RCPT TO:<b@x.org>\n"
                        "S: 250 ok\nC: DATA\nS: 354 go\nC: line\nC: \nC: .\nS: 552 too big\n",
                        -4},
        TransactionCase{"ResetRefused",
                        "S: 250 ok\nC: RCPT TO:<a@x.org>\nS: 250 ok\nC: RCPT TO:<b@x.org>\n"
                        "S: 250 ok\nC: DATA\nS: 354 go\nC: line\nC: \nC: .\nS: 250 ok\n"
                        "C: RSET\nS: 500 what\n",
                        -5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SmtpClientTest, FailedTransactionReportsTheReplyAndClosesTheConnection) {
  ScriptedServer server(greeting() + kEhloBoth +
                        "C: MAIL FROM:<Bob@Example.org>\nS: 553 sender rejected\n");
  connectTo(server);
  mail::TMailMessage msg;
  fill(msg, "a@x.org", "c@x.org", {"body"});
  EXPECT_FALSE(client.SendMail(msg));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, 553);
  EXPECT_EQ(errors[0].second, "sender rejected");
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpClientTest, FortyLinesInStepsOfTenReportEveryTenPercentAndOnceMoreAfterRset) {
  std::string dialogue = greeting() + kEhloBoth +
                         "C: MAIL FROM:<Bob@Example.org>\nS: 250 ok\nC: RCPT TO:<a@x.org>\n"
                         "S: 250 ok\nC: DATA\nS: 354 go\n";
  mail::TStringList lines;
  for (int i = 1; i <= 40; ++i) {
    lines.push_back("line " + std::to_string(i));
    dialogue += "C: line " + std::to_string(i) + "\n";
  }
  dialogue += "C: \nC: .\nS: 250 ok\nC: RSET\nS: 250 ok\n";
  ScriptedServer server(dialogue);
  connectTo(server);
  std::vector<int> percents;
  client.OnSendProgress = [&](TSmtpClient&, std::uint16_t p) { percents.push_back(p); };
  mail::TMailMessage msg;
  fill(msg, "a@x.org", nullptr, lines);
  EXPECT_TRUE(client.SendMail(msg));
  EXPECT_EQ(percents, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 100}));
  EXPECT_TRUE(server.Finished());
}

TEST(SmtpFaults, LineThatCannotBeSentEndsTheTransactionWithMinusSix) {
  test::FakeSocket* socket = nullptr;
  TSmtpClient client([&socket] {
    auto fake = std::make_unique<test::FakeSocket>();
    socket = fake.get();
    return fake;
  });
  socket->Incoming = {"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"};
  client.Host = "mail.example";
  ASSERT_TRUE(client.Connect());
  socket->FailSendAt = socket->SendCalls + 5;  // MAIL, RCPT, DATA, line 1, line 2
  EXPECT_EQ(client.SendTransaction("f@x.org", {"a@x.org"}, {"one", "two", "three"}), -6);
  EXPECT_TRUE(client.Failed);
  EXPECT_EQ(socket->Sent.find("three"), std::string::npos);
}

TEST_F(SmtpClientTest, MissingSenderOrRecipientRaisesBeforeAnyTraffic) {
  mail::TMailMessage msg;
  try {
    client.SendMail(msg);
    FAIL();
  } catch (const SmtpError& error) {
    EXPECT_STREQ(error.what(), "\"From\" field not specified.");
  }
  msg.SetFrom("a@x.org");
  try {
    client.SendMail(msg);
    FAIL();
  } catch (const SmtpError& error) {
    EXPECT_STREQ(error.what(), "\"SendTo\" field not specified.");
  }
}

TEST_F(SmtpClientTest, SilentServerTimesOut) {
  ScriptedServer server(greeting() + kEhloBoth + "C: NOOP\n");
  connectTo(server);
  client.TimeOut = 700;
  client.SendText("NOOP\r\n");
  try {
    client.ReceiveText();
    FAIL() << "no time-out";
  } catch (const SmtpError& error) {
    EXPECT_STREQ(error.what(), "Receive Timeout.  No Data Available.");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpClientTest, TextEventsSeeEveryCommandAndWholeReply) {
  ScriptedServer server(greeting() + kEhloBoth + "C: NOOP\nS: 250-a\nP: 50\nS: 250 b\n");
  connectTo(server);
  std::vector<std::string> sent;
  std::vector<std::string> received;
  client.OnSendTextToSocket = [&](TSmtpClient&, const std::string& s) { sent.push_back(s); };
  client.OnReceiveTextFromSocket = [&](TSmtpClient&, const std::string& s) {
    received.push_back(s);
  };
  client.SendText("NOOP\r\n");
  client.ReceiveText();
  EXPECT_EQ(sent, std::vector<std::string>{"NOOP\r\n"});
  EXPECT_EQ(received, std::vector<std::string>{"250-a\r\n250 b\r\n"});
  EXPECT_EQ(client.ReplyText, "b");
  EXPECT_TRUE(server.Finished());
}

// --- STARTTLS and implicit TLS -----------------------------------------------

class SmtpTlsTest : public SmtpClientTest {
 protected:
  test::TestCertificate cert = test::TestCertificate::Create(tmp.Path());
  ScriptedServer::Options tlsOptions() {
    ScriptedServer::Options options;
    options.Certificate = &cert;
    return options;
  }
};

TEST_F(SmtpTlsTest, StartTlsAsksForTheMechanismsAgainOverTls) {
  ScriptedServer server(greeting() +
                            "S: 250-x\nS: 250 STARTTLS\nC: STARTTLS\nS: 220 go ahead\nT:\n" +
                            heloPattern("EHLO") + "S: 250-x\nS: 250 AUTH LOGIN\n" +
                            "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: Ym9i\nS: 334 UGFzc3dvcmQ6\n"
                            "C: c2VjcmV0\nS: 235 ok\nC: QUIT\nS: 221 bye\n",
                        tlsOptions());
  client.Security = SecurityMode::StartTls;
  client.CaFile = cert.CertFile;
  connectTo(server);
  EXPECT_TRUE(client.Socket().IsTls());
  EXPECT_TRUE(client.AuthLoginOffered);
  EXPECT_FALSE(client.AuthPlainOffered);
  EXPECT_TRUE(client.Login());
  client.Quit();
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpTlsTest, RefusedStartTlsFailsTheConnectionAndSendsNoAuth) {
  ScriptedServer server(greeting() + kEhloBoth +
                        "C: STARTTLS\nS: 454 not available\nC: QUIT\nS: 221 bye\n");
  client.Security = SecurityMode::StartTls;
  client.Host = "127.0.0.1";
  client.Port = server.PortText();
  EXPECT_FALSE(client.Connect());
  EXPECT_TRUE(client.Failed);
  EXPECT_NE(client.LastErrorText.find("STARTTLS"), std::string::npos);
  EXPECT_THROW(client.Login(), SmtpError);
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.ClientLog().find("AUTH"), std::string::npos);
}

TEST_F(SmtpTlsTest, UntrustedCertificateFailsTheConnection) {
  ScriptedServer server(greeting() + kEhloBoth + "C: STARTTLS\nS: 220 go\nT!\n", tlsOptions());
  client.Security = SecurityMode::StartTls;
  client.Host = "127.0.0.1";
  client.Port = server.PortText();
  EXPECT_FALSE(client.Connect());
  EXPECT_EQ(client.LastErrorText,
            "TLS handshake failed: certificate verify failed (self-signed certificate)");
  EXPECT_TRUE(server.Finished());
}

TEST_F(SmtpTlsTest, ImplicitTls) {
  ScriptedServer::Options options = tlsOptions();
  options.ImplicitTls = true;
  ScriptedServer server(
      greeting() + "S: 250 AUTH PLAIN\nC: AUTH PLAIN AGJvYgBzZWNyZXQ=\nS: 235 ok\n", options);
  client.Security = SecurityMode::ImplicitTls;
  client.CaFile = cert.CertFile;
  connectTo(server);
  EXPECT_TRUE(client.Login());
  EXPECT_TRUE(server.Finished());
}

// --- Address routines ----------------------------------------------------------

struct ExtractCase {
  const char* text;
  bool bracketed;
  const char* expected;
};

class SmtpExtractAddressTest : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(SmtpExtractAddressTest, GivesTheBareAddress) {
  EXPECT_EQ(TSmtpClient::ExtractAddress(GetParam().text, GetParam().bracketed),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SmtpExtractAddressTest,
    ::testing::Values(ExtractCase{"\"Bob\" <bob@x.org>", false, "bob@x.org"},
                      ExtractCase{"bob@x.org", true, "<bob@x.org>"},
                      ExtractCase{"Bob (the <boss>) <bob@x.org>", false, "bob@x.org"},
                      ExtractCase{"a(1)b(2)c", false, "abc"},
                      ExtractCase{"x) <bob@x.org>", false, "bob@x.org"},
                      ExtractCase{"smile :) (note) bob@x.org", false, "smile :)  bob@x.org"},
                      ExtractCase{"(unclosed bob@x.org", false, "(unclosed bob@x.org"},
                      ExtractCase{"  <a@b>  ", false, "a@b"}));

TEST(SmtpSplitAddresses, QuotedNamesGoAndAddressesComeLowerCaseInOrder) {
  EXPECT_EQ(TSmtpClient::SplitAddresses("\"Smith, John\" <John.Smith@Example.COM>,<Two@X.org>"),
            (mail::TStringList{"john.smith@example.com", "two@x.org"}));
  EXPECT_EQ(TSmtpClient::SplitAddresses("a@x.org (Ann), ,b@x.org"),
            (mail::TStringList{"a@x.org", "b@x.org"}));
  EXPECT_TRUE(TSmtpClient::SplitAddresses("   ").empty());
}

TEST(SmtpTextRoutines, RemoveQuotedAndRemoveChar) {
  EXPECT_EQ(TSmtpClient::RemoveQuoted("  \"a\" b \"c\" d \"e ", '"'), " b  d \"e");
  EXPECT_EQ(TSmtpClient::RemoveQuoted("   ", '"'), "");
  EXPECT_EQ(TSmtpClient::RemoveChar(" a b  c ", ' '), "abc");
}

TEST(SmtpIsIPAddress, FourDecimalPartsUpTo255) {
  EXPECT_TRUE(TSmtpClient::IsIPAddress("192.168.1.10"));
  EXPECT_TRUE(TSmtpClient::IsIPAddress("0.0.0.0"));
  EXPECT_FALSE(TSmtpClient::IsIPAddress("256.1.1.1"));
  EXPECT_FALSE(TSmtpClient::IsIPAddress("1.2.3"));
  EXPECT_FALSE(TSmtpClient::IsIPAddress("1.2.3.4.5"));
  EXPECT_FALSE(TSmtpClient::IsIPAddress("1..3.4"));
  EXPECT_FALSE(TSmtpClient::IsIPAddress("a.b.c.d"));
  EXPECT_FALSE(TSmtpClient::IsIPAddress("::1"));
}

}  // namespace
}  // namespace kelvrin::protocols
