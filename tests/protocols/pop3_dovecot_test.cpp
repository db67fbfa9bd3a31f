// TPop3Client against a real Dovecot started for each test.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "protocols/pop3_client.h"
#include "support/dovecot_server.h"
#include "support/temp_dir.h"

namespace kelvrin::protocols {
namespace {

std::string message(int n) {
  return "Return-Path: <sender" + std::to_string(n) +
         "@example.org>\n"
         "From: \"Sender " +
         std::to_string(n) + "\" <sender" + std::to_string(n) +
         "@example.org>\n"
         "To: bob@example.net\n"
         "Subject: message " +
         std::to_string(n) +
         "\n"
         "Date: Tue, 5 Mar 2002 10:20:30 +1300\n"
         "\n"
         "Body of message " +
         std::to_string(n) + "\n.starts with a dot\n";
}

class Pop3DovecotTest : public ::testing::TestWithParam<SecurityMode> {
 protected:
  void SetUp() override {
    if (!test::DovecotServer::Available()) {
      GTEST_SKIP() << test::DovecotServer::kBinary
                   << " is not installed (Debian packages dovecot-core, dovecot-pop3d)";
    }
    server = std::make_unique<test::DovecotServer>();
    for (int n = 1; n <= 3; ++n)
      server->AddMessage(message(n));
    server->Start();
  }

  void open(TPop3Client& client) {
    client.Host = GetParam() == SecurityMode::None ? "127.0.0.1" : "localhost";
    client.Port = std::to_string(GetParam() == SecurityMode::ImplicitTls ? server->Pop3sPort()
                                                                         : server->Pop3Port());
    client.Security = GetParam();
    client.CaFile = server->CaFile();
    client.UserId = server->User();
    client.UserPasswd = server->Password();
    client.OnError = [this](TPop3Client&, std::int32_t code, const std::string& msg) {
      ADD_FAILURE() << "OnError " << code << " " << msg << "\n" << server->Log();
    };
    ASSERT_TRUE(client.Connect()) << client.LastErrorText << "\n" << server->Log();
    ASSERT_EQ(client.Socket().IsTls(), GetParam() != SecurityMode::None);
    ASSERT_TRUE(client.Login());
    client.GetStat();
  }

  test::TempDir tmp;
  test::ScopedTmpDir scopedTmp{tmp.Path()};
  std::unique_ptr<test::DovecotServer> server;
};

TEST_P(Pop3DovecotTest, HeaderCheckRetrievalAndDeletion) {
  std::string deletedSubject;
  {
    TPop3Client client;
    client.GetUIDLsOnRetrieve = true;
    open(client);
    ASSERT_EQ(client.MessageCount, 3);
    EXPECT_TRUE(client.UIDLSupported);

    mail::TMailMessageList list;
    ASSERT_EQ(client.RetrieveAllHeaders(list), 3);
    mail::TStringList ids;
    ASSERT_EQ(client.GetUIDLList(ids), 3);
    for (std::size_t i = 0; i < 3; ++i) {
      const mail::TMailMessage& msg = list.Items(i);
      EXPECT_EQ(msg.Subject.rfind("message ", 0), 0u) << msg.Subject;
      EXPECT_EQ(msg.SendToAddress(), "bob@example.net");
      EXPECT_GT(msg.Size, 150);
      EXPECT_EQ(msg.UIDL, ids[i]);
      EXPECT_TRUE(msg.Text.empty());
    }
    mail::TMailMessage& whole = client.Messages().CreateMessage();
    ASSERT_TRUE(client.Retrieve(1, whole));
    EXPECT_EQ(whole.Subject, list.Items(0).Subject);
    ASSERT_GE(whole.Text.size(), 2u);
    EXPECT_EQ(whole.Text[1], ".starts with a dot");
    EXPECT_EQ(client.GetMessageSize(1), list.Items(0).Size);

    deletedSubject = list.Items(1).Subject;
    client.DeleteMessage(2);
    EXPECT_EQ(client.MessageCount, 2);
    EXPECT_TRUE(client.Quit());
  }
  TPop3Client again;
  open(again);
  EXPECT_EQ(again.MessageCount, 2);
  mail::TMailMessageList list;
  ASSERT_EQ(again.RetrieveAllHeaders(list), 2);
  for (std::size_t i = 0; i < list.Count(); ++i)
    EXPECT_NE(list.Items(i).Subject, deletedSubject);
  again.Quit();
  EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));
}

TEST_P(Pop3DovecotTest, WrongPasswordIsRefusedWith2001) {
  TPop3Client client;
  client.Host = "localhost";
  client.Port = std::to_string(GetParam() == SecurityMode::ImplicitTls ? server->Pop3sPort()
                                                                       : server->Pop3Port());
  client.Security = GetParam();
  client.CaFile = server->CaFile();
  client.UserId = server->User();
  client.UserPasswd = "wrong";
  std::int32_t code = 0;
  client.OnError = [&](TPop3Client&, std::int32_t c, const std::string&) { code = c; };
  ASSERT_TRUE(client.Connect()) << client.LastErrorText;
  EXPECT_FALSE(client.Login());
  EXPECT_EQ(code, kPop3LoginRefused);
  EXPECT_FALSE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(Security, Pop3DovecotTest,
                         ::testing::Values(SecurityMode::None, SecurityMode::StartTls,
                                           SecurityMode::ImplicitTls),
                         [](const auto& info) {
                           switch (info.param) {
                             case SecurityMode::None:
                               return "Plain";
                             case SecurityMode::StartTls:
                               return "Stls";
                             default:
                               return "Pop3s";
                           }
                         });

}  // namespace
}  // namespace kelvrin::protocols
