// The pipelined header check, and the raw retrieval's reply boundaries,
// against the scripted server: each test shows the dialogue it pins.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "protocols/dot_stuffing.h"
#include "protocols/pop3_client.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace kelvrin::protocols {
namespace {

using test::ScriptedServer;

const std::string kLogin =
    "S: +OK ready\nC: USER bob\nS: +OK\nC: PASS secret\nS: +OK\n"
    "C: STAT\nS: +OK 3 900\nC: LAST\nS: +OK 0\n"
    "C: UIDL\nS: +OK\nS: 1 a\nS: 2 b\nS: 3 c\nS: .\n";
const std::string kCapaPipelining = "C: CAPA\nS: +OK\nS: TOP\nS: UIDL\nS: pipelining\nS: .\n";
const std::string kSizes = "C: LIST\nS: +OK\nS: 1 301\nS: 2 302\nS: 3 303\nS: .\n";

std::string topReply(int n, const std::string& subject) {
  return "C: TOP " + std::to_string(n) +
         " 0\nS: +OK\nS: From: x@example.com\nS: Subject: " + subject + "\nS: \nS: .\n";
}

class Pop3PipeliningTest : public ::testing::Test {
 protected:
  Pop3PipeliningTest() {
    client.OnError = [this](TPop3Client&, std::int32_t code, const std::string& msg) {
      errors.emplace_back(code, msg);
    };
    client.UserId = "bob";
    client.UserPasswd = "secret";
    client.GetUIDLsOnRetrieve = true;
    client.AskCapabilities = true;
    client.OperationTimeout = 3000;
  }

  void start(const ScriptedServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.PortText();
    ASSERT_TRUE(client.Connect()) << client.LastErrorText;
    ASSERT_TRUE(client.Login());
    client.GetStat();
  }

  std::vector<std::string> subjects() const {
    std::vector<std::string> result;
    for (std::size_t i = 0; i < list.Count(); ++i)
      result.push_back(list.Items(i).Subject);
    return result;
  }

  test::TempDir tmp;
  test::ScopedTmpDir scopedTmp{tmp.Path()};
  TPop3Client client;
  mail::TMailMessageList list;
  std::vector<std::pair<std::int32_t, std::string>> errors;
};

TEST_F(Pop3PipeliningTest, PipelinedCheckTakesSizesAndIdsFromTheListings) {
  ScriptedServer server(kLogin + kCapaPipelining + kSizes + topReply(1, "one") +
                        topReply(2, "two") + topReply(3, "three") + "C: QUIT\n");
  start(server);
  EXPECT_EQ(client.RetrieveAllHeaders(list), 3);
  EXPECT_TRUE(client.LastCheckPipelined);
  EXPECT_EQ(subjects(), (std::vector<std::string>{"one", "two", "three"}));
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list.Items(i).UIDL, std::string(1, static_cast<char>('a' + i)));
    EXPECT_EQ(list.Items(i).Size, 301 + static_cast<int>(i));
  }
  client.Quit();
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
  EXPECT_TRUE(errors.empty());
}

// Without PIPELINING the dialogue is the per-message one, command for
// command, whatever CAPA said.
class Pop3NoPipeliningTest : public Pop3PipeliningTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(Pop3NoPipeliningTest, KeepsThePerMessageDialogue) {
  std::string script = kLogin + GetParam();
  for (int n = 1; n <= 3; ++n) {
    const std::string num = std::to_string(n);
    script += "C: LIST " + num + "\nS: +OK " + num + " 30" + num + "\n" + topReply(n, "s" + num) +
              "C: UIDL " + num + "\nS: +OK " + num + " id" + num + "\n";
  }
  ScriptedServer server(script + "C: QUIT\n");
  start(server);
  EXPECT_EQ(client.RetrieveAllHeaders(list), 3);
  EXPECT_FALSE(client.LastCheckPipelined);
  EXPECT_EQ(subjects(), (std::vector<std::string>{"s1", "s2", "s3"}));
  EXPECT_EQ(list.Items(2).UIDL, "id3");
  client.Quit();
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

INSTANTIATE_TEST_SUITE_P(Capabilities, Pop3NoPipeliningTest,
                         ::testing::Values("C: CAPA\nS: -ERR unknown command\n",
                                           "C: CAPA\nS: +OK\nS: TOP\nS: UIDL\nS: .\n",
                                           "C: CAPA\nS: +OK\nS: X-PIPELINING\nS: .\n"));

TEST_F(Pop3PipeliningTest, KnownHeadersAreNotFetchedAndNewOnesAreHandedOn) {
  ScriptedServer server(kLogin + kCapaPipelining + kSizes + topReply(1, "one") +
                        topReply(3, "three") + "C: QUIT\n");
  start(server);
  std::map<std::string, int> asked;
  client.FindKnownHeader = [&](const std::string& id, std::int32_t size, mail::TStringList& lines) {
    asked[id] = size;
    if (id != "b") return false;
    lines = {"From: y@example.com", "Subject: cached two"};
    return true;
  };
  std::vector<std::string> fetched;
  client.OnHeaderFetched = [&](const std::string& id, std::int32_t, const mail::TStringList& l) {
    fetched.push_back(id + ":" + l.at(1));
  };
  EXPECT_EQ(client.RetrieveAllHeaders(list), 3);
  EXPECT_EQ(subjects(), (std::vector<std::string>{"one", "cached two", "three"}));
  EXPECT_EQ(list.Items(1).UIDL, "b");
  EXPECT_EQ(list.Items(1).Size, 302);
  EXPECT_EQ(asked, (std::map<std::string, int>{{"a", 301}, {"b", 302}, {"c", 303}}));
  EXPECT_EQ(fetched, (std::vector<std::string>{"a:Subject: one", "c:Subject: three"}));
  EXPECT_EQ(client.HeadersKnown, 1);
  client.Quit();
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

TEST_F(Pop3PipeliningTest, HeaderCutShortByTheServerIsNotHandedOn) {
  ScriptedServer server(kLogin + kCapaPipelining + kSizes + topReply(1, "one") +
                        topReply(2, "two") + "C: TOP 3 0\nS: +OK\nS: From: x@example.com\nX:\n");
  start(server);
  std::vector<std::string> fetched;
  client.OnHeaderFetched = [&](const std::string& id, std::int32_t, const mail::TStringList&) {
    fetched.push_back(id);
  };
  client.RetrieveAllHeaders(list);
  EXPECT_EQ(fetched, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

TEST_F(Pop3PipeliningTest, RefusedTopInABatchLeavesAnEmptyMessageAndGoesOn) {
  ScriptedServer server(kLogin + kCapaPipelining + kSizes + topReply(1, "one") +
                        "C: TOP 2 0\nS: -ERR gone\n" + topReply(3, "three") + "C: QUIT\n");
  start(server);
  EXPECT_EQ(client.RetrieveAllHeaders(list), 3);
  EXPECT_EQ(subjects(), (std::vector<std::string>{"one", "", "three"}));
  EXPECT_EQ(list.Items(1).UIDL, "");
  EXPECT_EQ(list.Items(2).UIDL, "c");
  client.Quit();
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
  EXPECT_TRUE(errors.empty());
}

// A refused whole LIST is answered by the per-message LIST n, and a refused
// LIST n then ends the session as it always does: no later message is
// taken for this one.
TEST_F(Pop3PipeliningTest, RefusedListFallsBackAndARefusedListNEndsTheCheck) {
  ScriptedServer server(kLogin + kCapaPipelining + "C: LIST\nS: -ERR not now\n" +
                        "C: LIST 1\nS: +OK 1 301\n" + topReply(1, "one") +
                        "C: LIST 2\nS: -ERR no such message\n"
                        "C: TOP 2 0\nS: +OK\nS: Subject: two\nS: \nS: .\n"
                        "C: LIST 3\nC: TOP 3 0\nC: QUIT\n");
  start(server);
  try {
    client.RetrieveAllHeaders(list);
    FAIL() << "the check went on after a refused LIST 2";
  } catch (const Pop3Error& error) {
    EXPECT_STREQ(error.what(), "Not connected. Attempting to receive a message. (2)");
  }
  EXPECT_EQ(subjects(), (std::vector<std::string>{"one"}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0],
            (std::pair<std::int32_t, std::string>{kPop3ResetRefused, "no such message"}));
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

TEST_F(Pop3PipeliningTest, CancelInABatchEndsTheSessionWithoutQuit) {
  ScriptedServer server(kLogin + kCapaPipelining + kSizes + topReply(1, "one") +
                        topReply(2, "two") + topReply(3, "three"));
  start(server);
  client.OnAfterRetrieve = [](TPop3Client& c) { c.Abort(); };
  EXPECT_EQ(client.RetrieveAllHeaders(list), 0);
  EXPECT_TRUE(client.ReplyLeftUnread);
  EXPECT_FALSE(client.Connected());
  // The replies the client no longer reads may not reach it at all, so
  // whether the server got to the end of its script is not the point.
  (void)server.Finished();
  EXPECT_NE(server.ClientLog().find("TOP 3 0"), std::string::npos) << server.ClientLog();
  EXPECT_EQ(server.ClientLog().find("QUIT"), std::string::npos);
}

// More messages than one window: the batches still come back in order.
TEST_F(Pop3PipeliningTest, ManyMessagesComeBackInOrder) {
  constexpr int kCount = 260;
  std::string script =
      "S: +OK ready\nC: USER bob\nS: +OK\nC: PASS secret\nS: +OK\nC: STAT\nS: +OK " +
      std::to_string(kCount) + " 9\nC: LAST\nS: +OK 0\nC: UIDL\nS: +OK\n";
  std::string sizes = "C: LIST\nS: +OK\n";
  std::string tops;
  for (int n = 1; n <= kCount; ++n) {
    script += "S: " + std::to_string(n) + " id" + std::to_string(n) + "\n";
    sizes += "S: " + std::to_string(n) + " " + std::to_string(1000 + n) + "\n";
    tops += topReply(n, "m" + std::to_string(n));
  }
  ScriptedServer server(script + "S: .\n" + kCapaPipelining + sizes + "S: .\n" + tops +
                        "C: QUIT\n");
  start(server);
  ASSERT_EQ(client.RetrieveAllHeaders(list), kCount);
  for (int n = 1; n <= kCount; ++n) {
    const auto& m = list.Items(static_cast<std::size_t>(n - 1));
    ASSERT_EQ(m.Subject, "m" + std::to_string(n));
    ASSERT_EQ(m.UIDL, "id" + std::to_string(n));
    ASSERT_EQ(m.Size, 1000 + n);
  }
  client.Quit();
  EXPECT_TRUE(server.Finished());
}

// The raw retrieval, as the quarantine copy uses it.
class Pop3RawTest : public Pop3PipeliningTest {};

TEST_F(Pop3RawTest, RefusedListEndsWithTheServersReason) {
  ScriptedServer server(kLogin + "C: LIST 3\nS: -ERR message 3 is gone\nC: QUIT\n");
  start(server);
  std::string bytes;
  EXPECT_FALSE(client.RetrieveRaw(3, [&](std::string_view b) { bytes.append(b); }));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].second, "message 3 is gone");
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

TEST_F(Pop3RawTest, BytesAfterTheEndAreTheNextReply) {
  ScriptedServer server(kLogin +
                        "C: LIST 1\nS: +OK 1 20\nC: RETR 1\n"
                        "S~ +OK\\r\\nbody\\r\\n.\\r\\n+OK 1 early-id\\r\\n\n"
                        "C: UIDL 1\nC: QUIT\n");
  start(server);
  std::string bytes;
  EXPECT_TRUE(client.RetrieveRaw(1, [&](std::string_view b) { bytes.append(b); }));
  EXPECT_EQ(bytes, "body\r\n");
  EXPECT_EQ(client.GetUIDL(1), "early-id");
  client.Quit();
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

TEST_F(Pop3RawTest, ServerWithoutCarriageReturnsEndsAndIsUnstuffed) {
  ScriptedServer server(kLogin +
                        "C: LIST 1\nS: +OK 1 20\nC: RETR 1\n"
                        "S~ +OK\\nSubject: s\\n\\n..dot\\nx\\n.\\n\n"
                        "C: QUIT\n");
  start(server);
  std::string bytes;
  EXPECT_TRUE(client.RetrieveRaw(1, [&](std::string_view b) { bytes.append(b); }));
  EXPECT_EQ(bytes, "Subject: s\n\n.dot\nx\n");
  EXPECT_TRUE(client.Connected());
  client.Quit();
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

struct UnstuffCase {
  const char* reply;
  const char* message;
  bool complete;
  std::size_t used;  // bytes of the reply that belong to it
};

TEST(DotUnstufferLineEnds, BareLineFeedsEndLinesAndTheReply) {
  const UnstuffCase cases[] = {
      {"+OK\n.\n", "", true, 6},
      {"+OK\nline\n..two\n.\nnext", "line\n.two\n", true, 17},
      {"+OK\r\nmixed\n.\r\nnext", "mixed\n", true, 14},
      {"+OK\nline\n.x\n", "line\nx\n", false, 12},
      {"+OK\r\na\rb\r\n.\r\n", "a\rb\r\n", true, 13},
      {"+OK\n\n..\n.\n", "\n.\n", true, 10},
  };
  for (const UnstuffCase& c : cases) {
    DotUnstuffer unstuffer;
    std::string out;
    EXPECT_EQ(unstuffer.Feed(c.reply, out), c.complete) << c.reply;
    EXPECT_EQ(out, c.message) << c.reply;
    EXPECT_EQ(unstuffer.Used(), c.used) << c.reply;
  }
}

}  // namespace
}  // namespace kelvrin::protocols
