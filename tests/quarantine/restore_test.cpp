// The way back, against the real servers of the test fixtures: a spam
// deletion on Dovecot keeps the message exactly as the server gave it, and
// Restore sends those bytes unchanged through a real SMTP server, so that
// once delivered the message is in the mailbox again as it was.

#include "quarantine/restore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/check_cycle.h"
#include "app/command_model.h"
#include "app/kvmain.h"
#include "app/quarantine_copy.h"
#include "mail/codecs.h"
#include "protocols/pop3_client.h"
#include "protocols/smtp_client.h"
#include "support/dovecot_server.h"
#include "support/fake_prompter.h"
#include "support/smtp_test_server.h"
#include "support/temp_dir.h"

namespace kelvrin::quarantine {
namespace {

namespace fs = std::filesystem;

// A spam message with what a restore must not touch: trace and custom
// headers, a folded header, stuffed dots, 8-bit text.
const std::string kSpam =
    "Return-Path: <deal7@spam.example>\n"
    "Received: from mx.spam.example (mx.spam.example [192.0.2.7])\n"
    "\tby pop.example.net with ESMTP id 4711; Tue, 5 Mar 2024 10:20:30 +0100\n"
    "From: Offers <deal7@spam.example>\n"
    "To: someone@elsewhere.example\n"
    "Subject: Cheap stuff 7\n"
    "Date: Fri, 7 Mar 2025 09:07:00 +0000\n"
    "Message-ID: <restore-7@spam.example>\n"
    "X-Kept: exactly\n"
    "\n"
    "Not spam after all.\n"
    ".a line with a leading dot\n"
    "..two of them\n"
    ".\n"
    "8-bit: \xe4\xf6\xfc\n";

const std::string kValid =
    "From: Friend <friend1@example.org>\n"
    "To: bob@example.net\n"
    "Subject: Lunch\n"
    "Date: Mon, 3 Mar 2025 10:01:00 +0000\n"
    "\n"
    "See you.\n";

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// What the SMTP server received in each transaction, decoded.
std::vector<std::string> received(const test::SmtpTestServer& smtp, std::string& envelope) {
  std::vector<std::string> data;
  for (const std::string& event : smtp.Events()) {
    if (event.rfind("mail ", 0) != 0) continue;
    const std::size_t at = event.find(" data=");
    envelope = event.substr(0, at);
    const std::string text = event.substr(at + 6);
    std::string bytes;
    mail::StringSink sink(bytes);
    mail::TBase64DecodingStream decoder(sink);
    decoder.Write(text.data(), text.size());
    data.push_back(std::move(bytes));
  }
  return data;
}

void pointAt(protocols::TSmtpClient& client, const test::SmtpTestServer& smtp,
             const char* password) {
  client.Host = "127.0.0.1";
  client.Port = std::to_string(smtp.Port());
  client.UserId = smtp.User();
  client.UserPasswd = password;
}

class RestoreRealServers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::DovecotServer::Available() || !test::SmtpTestServer::Available()) {
      GTEST_SKIP() << "needs Dovecot (dovecot-core, dovecot-pop3d) and python3-aiosmtpd";
    }
  }
};

TEST_F(RestoreRealServers, DeletedMessageComesBackWithItsOriginalHeadersAndBody) {
  test::DovecotServer dovecot;
  dovecot.AddMessage(kValid);
  dovecot.AddMessage(kSpam);
  dovecot.Start();
  test::SmtpTestServer smtp(test::SmtpTestServer::Mode::Plain);

  // The spam deletion, as the program runs it, with the quarantine on.
  test::TempDir home;
  test::TempDir data("kelvrin-data-");
  test::FakePrompter prompter;
  protocols::NullEventPump pump;
  QuarantineStore store(fs::path(data.Path()) / "kelvrin" / "quarantine");
  {
    app::TKVmain kv(app::Ports{{}, pump, protocols::DefaultClock(), prompter}, home.Path());
    kv.FormCreate();
    kv.setDeletionCopy(std::make_unique<app::QuarantineCopy>(store, false));
    kv.FormShow();
    auto& wizard = *kv.KVWForm1;
    wizard.setText("KVWMainEmail1", "bob@example.net");
    wizard.setText("KVWEdhost", "127.0.0.1");
    wizard.setText("KVWedUser", dovecot.User());
    wizard.setText("KVWedPassword", dovecot.Password());
    wizard.setText("PopPort", std::to_string(dovecot.Pop3Port()));
    wizard.setValue("KVWccntypeGroup", 0);
    kv.KVmain->setChecked("AutoUpdate1", false);
    kv.State.OnlineState = 1;
    kv.lbAllowEM->Add("bob@example.net");
    kv.btOpenClick();
    kv.Check().RunRequestedCheck();
    ASSERT_EQ(kv.VTree1.RootNodeCount(), 2u) << kv.dfsStatus.Status() << "\n" << dovecot.Log();
    int marked = 0;
    for (const auto& row : kv.VTree1.rows())
      marked += row.Checked ? 1 : 0;
    ASSERT_EQ(marked, 1) << "the spam is marked, the valid message is not";
    kv.btDeleteClick(app::kTagSpamDelete);
    // The follow-up check quit the deletion's session and lists what is left.
    EXPECT_EQ(kv.VTree1.RootNodeCount(), 1u) << kv.dfsStatus.Status();
    kv.FormDestroy();
  }

  ASSERT_EQ(store.Entries().size(), 1u);
  const QuarantineEntry entry = store.Entries()[0];
  const std::string kept = store.ReadMessage(entry);
  EXPECT_EQ(kept, crlf(kSpam)) << "the copy is the message as the server gave it";
  EXPECT_EQ(entry.Subject, "Cheap stuff 7");

  protocols::TSmtpClient client;
  pointAt(client, smtp, smtp.Password());
  RestoreMessage(client, "Bob <bob@example.net>", kept);
  std::string envelope;
  const auto arrived = received(smtp, envelope);
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(envelope, "mail from=bob@example.net to=bob@example.net tls=0");
  EXPECT_EQ(arrived[0], kept) << "headers and body unchanged";

  // Delivered (the mail server's part, which the fixtures leave to the
  // test), the message is in the mailbox again exactly as it was.
  dovecot.AddMessage(arrived[0]);
  protocols::TPop3Client pop;
  pop.Host = "127.0.0.1";
  pop.Port = std::to_string(dovecot.Pop3Port());
  pop.UserId = dovecot.User();
  pop.UserPasswd = dovecot.Password();
  ASSERT_TRUE(pop.Connect()) << pop.LastErrorText;
  ASSERT_TRUE(pop.Login());
  pop.GetStat();
  ASSERT_EQ(pop.MessageCount, 2u);
  std::string again;
  ASSERT_TRUE(pop.RetrieveRaw(2, [&](std::string_view bytes) { again.append(bytes); }));
  pop.Quit();
  EXPECT_EQ(again, crlf(kSpam));
}

TEST_F(RestoreRealServers, RefusedLoginIsAnErrorAndSendsNothing) {
  test::SmtpTestServer smtp(test::SmtpTestServer::Mode::Plain);
  protocols::TSmtpClient client;
  pointAt(client, smtp, "wrong");
  try {
    RestoreMessage(client, "bob@example.net", crlf(kSpam));
    ADD_FAILURE() << "a refused login passed for a restore";
  } catch (const QuarantineError& e) {
    EXPECT_NE(std::string(e.what()).find("refused the login"), std::string::npos) << e.what();
  }
  std::string envelope;
  EXPECT_TRUE(received(smtp, envelope).empty());
  EXPECT_FALSE(client.Connected());
}

TEST_F(RestoreRealServers, NoServerIsAnError) {
  protocols::TSmtpClient client;
  client.Host = "127.0.0.1";
  client.Port = std::to_string(test::FreeLoopbackPort());
  EXPECT_THROW(RestoreMessage(client, "bob@example.net", crlf(kSpam)), QuarantineError);
}

TEST(Restore, AddressWithoutAtIsRefusedBeforeAnyTraffic) {
  protocols::TSmtpClient client;
  client.Host = "192.0.2.1";  // never reached
  try {
    RestoreMessage(client, "Bob <bob>", "Subject: x\r\n\r\n");
    ADD_FAILURE() << "restored to no address";
  } catch (const QuarantineError& e) {
    EXPECT_NE(std::string(e.what()).find("is not a mail address"), std::string::npos);
  }
  EXPECT_FALSE(client.Connected());
}

}  // namespace
}  // namespace kelvrin::quarantine
