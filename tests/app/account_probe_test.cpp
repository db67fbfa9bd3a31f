#include "app/account_probe.h"

#include <gtest/gtest.h>

#include "protocols/event_pump.h"
#include "settings/forms.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace kelvrin::app {
namespace {

using test::ScriptedServer;

constexpr const char* kPopLogin = "S: +OK ready\nC: USER bob\nS: +OK\nC: PASS secret\n";
constexpr const char* kSmtpLogin =
    "S: 220 smtp ready\nC~ EHLO .*\nS: 250-mail.example\nS: 250-AUTH LOGIN PLAIN\nS: 250 8BITMIME\n"
    "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: Ym9i\nS: 334 UGFzc3dvcmQ6\nC: c2VjcmV0\n";

struct ProbeCase {
  const char* name;
  std::string pop;   // the POP3 dialogue
  std::string smtp;  // the SMTP dialogue; empty: no SMTP host
  bool popTls;       // STLS to a certificate the client does not trust
  bool popOk;
  bool smtpOk;
  std::string text;
};

class AccountProbeTest : public ::testing::TestWithParam<ProbeCase> {
 protected:
  test::TempDir tmp;
  test::TestCertificate cert = test::TestCertificate::Create(tmp.Path());
  protocols::NullEventPump pump;
};

TEST_P(AccountProbeTest, LogsInWithoutTouchingTheMailAndTellsHowItWent) {
  const auto& row = GetParam();
  ScriptedServer::Options popOptions;
  if (row.popTls) {
    popOptions.Certificate = &cert;
  }
  ScriptedServer pop(row.pop, popOptions);
  std::unique_ptr<ScriptedServer> smtp;
  if (!row.smtp.empty()) smtp = std::make_unique<ScriptedServer>(row.smtp);

  auto fields = settings::makeKVWForm1Form();
  fields->setText("KVWEdhost", "127.0.0.1");
  fields->setText("PopPort", " " + pop.PortText());
  fields->setValue("PopSecurity", row.popTls ? settings::kSecurityStartTls : 0);
  fields->setText("KVWedUser", "bob");
  fields->setText("KVWedPassword", row.name == std::string("wrong password") ? "wrong" : "secret");
  fields->setText("KVWsmtphost", smtp ? "127.0.0.1" : "");
  if (smtp) fields->setText("SmtpPort", smtp->PortText());

  AccountProbe probe({}, pump, protocols::DefaultClock());
  const ProbeOutcome outcome = probe.run(*fields);
  EXPECT_EQ(outcome.text(), row.text);
  EXPECT_EQ(outcome.popOk, row.popOk);
  EXPECT_EQ(outcome.smtpOk, row.smtpOk);
  EXPECT_TRUE(pop.Finished());
  if (smtp) {
    EXPECT_TRUE(smtp->Finished());
  }
  EXPECT_EQ(pop.ClientLog().find("DELE"), std::string::npos);
  EXPECT_FALSE(probe.running());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccountProbeTest,
    ::testing::Values(
        ProbeCase{"good login",
                  std::string(kPopLogin) + "S: +OK\nC: STAT\nS: +OK 2 320\nC: LAST\nS: +OK 0\nC: "
                                           "UIDL\nS: -ERR unknown\nC: QUIT\nS: +OK bye\n",
                  std::string(kSmtpLogin) + "S: 235 ok\nC: QUIT\nS: 221 bye\n", false, true, true,
                  "POP3: Received maildrop info (2 messages)\nSMTP: logged in"},
        ProbeCase{"wrong password",
                  "S: +OK ready\nC: USER bob\nS: +OK\nC: PASS wrong\nS: -ERR [AUTH] Authentication "
                  "failed.\nC: QUIT\nS: +OK\n",
                  "", false, false, false,
                  "POP3: Username/Password error: [AUTH] Authentication failed."},
        ProbeCase{"smtp refuses the login",
                  std::string(kPopLogin) + "S: +OK\nC: STAT\nS: +OK 0 0\nC: LAST\nS: +OK 0\nC: "
                                           "UIDL\nS: -ERR unknown\nC: QUIT\nS: +OK bye\n",
                  std::string(kSmtpLogin) +
                      "S: 535 5.7.8 bad credentials\nC: AUTH PLAIN AGJvYgBzZWNyZXQ=\n"
                      "S: 535 5.7.8 bad credentials\nC: QUIT\nS: 221 bye\n",
                  false, true, false,
                  "POP3: Received maildrop info (0 messages)\nSMTP: login refused: 535 5.7.8 bad "
                  "credentials"},
        ProbeCase{"untrusted certificate", "S: +OK ready\nC: STLS\nS: +OK\nT!\n", "", true, false,
                  false,
                  "POP3: Unable connect: TLS handshake failed: certificate verify failed "
                  "(self-signed certificate)"}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (c == ' ') c = '_';
      }
      return name;
    });

}  // namespace
}  // namespace kelvrin::app
