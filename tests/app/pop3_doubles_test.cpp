// The POP3 server doubles end a connection as a real socket does: the
// client's own Close ends it and is announced, also after QUIT or after the
// server dropped the connection, which the client learns only by reading.

#include <gtest/gtest.h>

#include "app/mailbox_pop3.h"
#include "app/scripted_pop3.h"
#include "protocols/pop3_client.h"

namespace kelvrin::test {
namespace {

struct Doubles {
  FakeClock clock;
  MailboxPop3 mailbox{clock};
  ScriptedPop3 script{clock};
};

struct DoubleCase {
  const char* name;
  bool mailbox;
  bool serverCloses;  // the server closes on its own: after the login, or when QUIT arrives
  friend void PrintTo(const DoubleCase& c, std::ostream* os) { *os << c.name; }
};

class Pop3DoubleTest : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(Pop3DoubleTest, QuitClosesTheClientsEndAndAnnouncesIt) {
  const DoubleCase& c = GetParam();
  Doubles d;
  d.mailbox.mailbox = MixedMailbox(1);
  if (c.serverCloses) d.mailbox.dropAfter = 3;  // USER, PASS, QUIT
  d.script.AddSession(Join({LoginSteps(), c.serverCloses ? std::vector<std::string>{"X:"}
                                                         : std::vector<std::string>{}}));
  protocols::TPop3Client client(
      [&] { return c.mailbox ? d.mailbox.MakeSocket() : d.script.MakeSocket(); });
  client.SetClock(d.clock);
  int disconnects = 0;
  client.OnDisconnect = [&](protocols::TPop3Client&) { ++disconnects; };
  client.Host = "127.0.0.1";
  client.UserId = "bob";
  client.UserPasswd = "secret";
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(client.Login());
  EXPECT_TRUE(client.Connected()) << "nothing read yet tells the client it is over";
  client.Quit();
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(disconnects, 1);
}

INSTANTIATE_TEST_SUITE_P(Table, Pop3DoubleTest,
                         ::testing::Values(DoubleCase{"Mailbox", true, false},
                                           DoubleCase{"MailboxDroppedAtQuit", true, true},
                                           DoubleCase{"Scripted", false, false},
                                           DoubleCase{"ScriptedClosed", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::test
