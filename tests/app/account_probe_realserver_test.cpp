// "Test settings" against real servers started by the test: Dovecot for
// POP3 and aiosmtpd for SMTP, plain and with TLS. A good login, a wrong
// password, a certificate nobody vouches for, and the same certificate with
// its CA file given; the mailbox is left as it was.

#include <gtest/gtest.h>

#include <string>

#include "app/account_probe.h"
#include "protocols/event_pump.h"
#include "settings/forms.h"
#include "support/dovecot_server.h"
#include "support/smtp_test_server.h"

namespace kelvrin::app {
namespace {

using test::DovecotServer;
using test::SmtpTestServer;

struct RealProbeCase {
  const char* name;
  bool tls;          // POP3 over its TLS port, SMTP with implicit TLS
  bool giveCaFile;   // the test certificate's CA file in the wizard's field
  const char* password;
  bool popOk;
  bool smtpOk;
  const char* popSays;   // a part of the POP3 line
  const char* smtpSays;  // a part of the SMTP line
};

class AccountProbeRealServers : public ::testing::TestWithParam<RealProbeCase> {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available() || !SmtpTestServer::Available()) {
      GTEST_SKIP() << "needs Dovecot (dovecot-core, dovecot-pop3d) and python3-aiosmtpd";
    }
  }
};

TEST_P(AccountProbeRealServers, TellsHowTheLoginWentAndLeavesTheMail) {
  const RealProbeCase& row = GetParam();
  DovecotServer dovecot;
  dovecot.AddMessage("From: a@example.net\r\nSubject: one\r\n\r\nbody\r\n");
  dovecot.AddMessage("From: b@example.net\r\nSubject: two\r\n\r\nbody\r\n");
  dovecot.Start();
  SmtpTestServer smtp(row.tls ? SmtpTestServer::Mode::ImplicitTls : SmtpTestServer::Mode::Plain);

  auto fields = settings::makeKVWForm1Form();
  fields->setText("KVWEdhost", "127.0.0.1");
  fields->setText("PopPort", std::to_string(row.tls ? dovecot.Pop3sPort() : dovecot.Pop3Port()));
  fields->setValue("PopSecurity", row.tls ? settings::kSecurityImplicitTls : settings::kSecurityNone);
  fields->setText("KVWsmtphost", "127.0.0.1");
  fields->setText("SmtpPort", std::to_string(smtp.Port()));
  fields->setValue("SmtpSecurity",
                   row.tls ? settings::kSecurityImplicitTls : settings::kSecurityNone);
  fields->setText("KVWedUser", dovecot.User());
  fields->setText("KVWedPassword", row.password);
  // Both test servers sign with certificates of their own; one CA file
  // field serves both clients, so only the POP3 server's is given and SMTP
  // keeps refusing its certificate.
  if (row.giveCaFile) fields->setText("CaFile", dovecot.CaFile());

  protocols::NullEventPump pump;
  AccountProbe probe({}, pump, protocols::DefaultClock());
  const ProbeOutcome outcome = probe.run(*fields);
  EXPECT_EQ(outcome.popOk, row.popOk) << outcome.text();
  EXPECT_EQ(outcome.smtpOk, row.smtpOk) << outcome.text();
  EXPECT_NE(outcome.pop.find(row.popSays), std::string::npos) << outcome.pop;
  EXPECT_NE(outcome.smtp.find(row.smtpSays), std::string::npos) << outcome.smtp;
  EXPECT_FALSE(probe.running());

  // Nothing was deleted and nothing was sent.
  AccountProbe again({}, pump, protocols::DefaultClock());
  fields->setText("PopPort", std::to_string(dovecot.Pop3Port()));
  fields->setValue("PopSecurity", settings::kSecurityNone);
  fields->setText("KVWedPassword", dovecot.Password());
  EXPECT_NE(again.run(*fields).pop.find("(2 messages)"), std::string::npos);
  for (const std::string& event : smtp.Events()) {
    EXPECT_NE(event.rfind("mail ", 0), 0u) << "a message was sent: " << event;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccountProbeRealServers,
    ::testing::Values(
        RealProbeCase{"GoodLogin", false, false, "secret", true, true,
                      "POP3: Received maildrop info (2 messages)", "SMTP: logged in"},
        RealProbeCase{"WrongPassword", false, false, "wrong", false, false,
                      "POP3: Username/Password error", "SMTP: login refused"},
        RealProbeCase{"UntrustedCertificates", true, false, "secret", false, false, "certificate",
                      "certificate"},
        RealProbeCase{"CaFileTrustsThePop3Server", true, true, "secret", true, false,
                      "POP3: Received maildrop info (2 messages)", "certificate"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::app
