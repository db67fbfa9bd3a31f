// Dialogues of TPop3Client against the scripted server.

#include "protocols/pop3_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "protocols/spool_file.h"
#include "support/fake_socket.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace kelvrin::protocols {
namespace {

using test::ScriptedServer;

const char* const kGreeting = "S: +OK ready\n";
const char* const kStatNoUidl =
    "C: STAT\nS: +OK 2 640\nC: LAST\nS: -ERR unknown\nC: UIDL\nS: -ERR unknown\n";

class AbortingPump : public EventPump {
 public:
  explicit AbortingPump(TPop3Client& client) : client_(client) {}
  void ProcessEvents() override {
    ++calls;
    client_.Abort();
  }
  int calls = 0;

 private:
  TPop3Client& client_;
};

class Pop3ClientTest : public ::testing::Test {
 protected:
  Pop3ClientTest() {
    client.OnError = [this](TPop3Client&, std::int32_t code, const std::string& msg) {
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

  std::vector<std::string> spoolFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(tmp.Path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  test::TempDir tmp;
  test::ScopedTmpDir scopedTmp{tmp.Path()};
  TPop3Client client;
  std::vector<std::pair<std::int32_t, std::string>> errors;
};

TEST_F(Pop3ClientTest, LoginSendsUserThenPassAndStatCountsMessages) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: USER bob\nS: +OK\nC: PASS secret\nS: +OK logged in\n"
                        "C: STAT\nS: +OK 3 1200\nC: LAST\nS: +OK 0\n"
                        "C: UIDL\nS: +OK\nS: 1 a\nS: 2 b\nS: 3 c\nS: .\n"
                        "C: QUIT\n");
  connectTo(server);
  EXPECT_TRUE(client.Login());
  client.GetStat();
  EXPECT_EQ(client.MessageCount, 3);
  EXPECT_TRUE(client.UIDLSupported);
  EXPECT_FALSE(client.Failed);
  EXPECT_TRUE(client.Quit());
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished());
  EXPECT_TRUE(errors.empty());
}

TEST_F(Pop3ClientTest, RefusedUserGetsNoPassReports2001AndClosesTheSession) {
  ScriptedServer server(std::string(kGreeting) + "C: USER bob\nS: -ERR no such user\nC: QUIT\n");
  connectTo(server);
  EXPECT_FALSE(client.Login());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, kPop3LoginRefused);
  EXPECT_EQ(errors[0].second, "no such user");
  EXPECT_FALSE(client.Connected());
  try {
    client.GetStat();
    FAIL() << "GetStat did not raise";
  } catch (const Pop3Error& error) {
    EXPECT_STREQ(error.what(), "Not connected. Attempting to get STAT");
  }
  EXPECT_TRUE(server.Finished());
}

// A refused command reports its code with the server's text and ends the
// session; the operation itself raises nothing.
struct Refusal {
  const char* name;
  const char* script;
  std::function<void(TPop3Client&)> operation;
  std::int32_t code;
};

class Pop3RefusalTest : public Pop3ClientTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Pop3RefusalTest, ReportsCodeAndQuits) {
  ScriptedServer server(std::string(kGreeting) + GetParam().script + "C: QUIT\n");
  connectTo(server);
  client.UIDLSupported = true;
  EXPECT_NO_THROW(GetParam().operation(client));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, GetParam().code);
  EXPECT_EQ(errors[0].second, "refused");
  EXPECT_TRUE(client.Failed);
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Pop3RefusalTest,
    ::testing::Values(Refusal{"Pass", "C: USER bob\nS: +OK\nC: PASS secret\nS: -ERR refused\n",
                              [](TPop3Client& c) { EXPECT_FALSE(c.Login()); }, kPop3LoginRefused},
                      Refusal{"Stat", "C: STAT\nS: -ERR refused\n",
                              [](TPop3Client& c) { c.GetStat(); }, kPop3StatRefused},
                      Refusal{"Dele", "C: DELE 2\nS: -ERR refused\n",
                              [](TPop3Client& c) {
                                c.DeleteMessage(2);
                                EXPECT_TRUE(c.DeletedNumbers.empty());
                              },
                              kPop3DeleteRefused},
                      Refusal{"Rset", "C: RSET\nS: -ERR refused\n",
                              [](TPop3Client& c) { c.Reset(); }, kPop3ResetRefused},
                      Refusal{"List", "C: LIST 4\nS: -ERR refused\n",
                              [](TPop3Client& c) { EXPECT_EQ(c.GetMessageSize(4), 0); },
                              kPop3ResetRefused},
                      Refusal{"UidlOne", "C: UIDL 1\nS: -ERR refused\n",
                              [](TPop3Client& c) { EXPECT_EQ(c.GetUIDL(1), ""); },
                              kPop3StatRefused},
                      Refusal{"UidlList", "C: UIDL\nS: -ERR refused\n",
                              [](TPop3Client& c) {
                                mail::TStringList list;
                                EXPECT_EQ(c.GetUIDLList(list), -1);
                              },
                              kPop3StatRefused}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3ClientTest, ServerWithoutUidlIsWorkedWithoutIds) {
  ScriptedServer server(std::string(kGreeting) + kStatNoUidl +
                        "C: LIST 1\nS: +OK 1 320\nC: TOP 1 0\nS: +OK\nS: Subject: one\nS: .\n"
                        "C: LIST 2\nS: +OK 2 320\nC: TOP 2 0\nS: +OK\nS: Subject: two\nS: .\n");
  connectTo(server);
  client.GetUIDLsOnRetrieve = true;
  client.GetStat();
  EXPECT_FALSE(client.UIDLSupported);
  EXPECT_FALSE(client.Failed);
  EXPECT_EQ(client.GetUIDL(1), "");
  mail::TStringList ids;
  EXPECT_EQ(client.GetUIDLList(ids), -1);
  mail::TMailMessageList list;
  EXPECT_EQ(client.RetrieveAllHeaders(list), 2);
  EXPECT_EQ(list.Items(0).Subject, "one");
  EXPECT_EQ(list.Items(1).Subject, "two");
  EXPECT_EQ(list.Items(1).UIDL, "");
  EXPECT_EQ(list.Items(1).Size, 320);
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, HeaderCheckSendsListTopAndUidlPerMessage) {
  ScriptedServer server(
      std::string(kGreeting) +
      "C: STAT\nS: +OK 1 500\nC: LAST\nS: +OK 0\nC: UIDL\nS: +OK\nS: 1 id-1\nS: .\n"
      "C: LIST 1\nS: +OK 1 500\nC: TOP 1 0\n"
      "S: +OK top follows\nS: From: \"Ann\" <ann@example.org>\n"
      "S: Subject: Hello\nS: \nS: .\n"
      "C: UIDL 1\nS: +OK 1 id-1\n");
  connectTo(server);
  client.GetUIDLsOnRetrieve = true;
  int afterRetrieve = 0;
  client.OnAfterRetrieve = [&](TPop3Client&) { ++afterRetrieve; };
  client.GetStat();
  mail::TMailMessageList list;
  ASSERT_EQ(client.RetrieveAllHeaders(list), 1);
  const mail::TMailMessage& msg = list.Items(0);
  EXPECT_EQ(msg.Subject, "Hello");
  EXPECT_EQ(msg.FromAddress(), "ann@example.org");
  EXPECT_EQ(msg.Size, 500);
  EXPECT_EQ(msg.UIDL, "id-1");
  EXPECT_EQ(afterRetrieve, 1);
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_TRUE(server.Finished());
}

// Where the terminator CR LF "." CR LF is split between two reads.
class Pop3SplitTerminatorTest : public Pop3ClientTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(Pop3SplitTerminatorTest, EndsTheRetrievalAndTheNextReplyIsReadCleanly) {
  ScriptedServer server(std::string(kGreeting) + "C: LIST 1\nS: +OK 1 90\nC: RETR 1\n" +
                        GetParam() + "C: NOOP\nS: +OK still here\n");
  connectTo(server);
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  EXPECT_TRUE(client.Retrieve(1, msg));
  EXPECT_EQ(msg.Subject, "split");
  client.Noop();
  EXPECT_EQ(client.ReplyText, "still here");
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    SplitPoints, Pop3SplitTerminatorTest,
    ::testing::Values("S~ +OK\\r\\nSubject: split\\r\\n\\r\\nbody\\r\nP: 80\nS~ \\n.\\r\\n\n",
                      "S~ +OK\\r\\nSubject: split\\r\\n\\r\\nbody\\r\\n\nP: 80\nS~ .\\r\\n\n",
                      "S~ +OK\\r\\nSubject: split\\r\\n\\r\\nbody\\r\\n.\nP: 80\nS~ \\r\\n\n",
                      "S~ +OK\\r\\nSubject: split\\r\\n\\r\\nbody\\r\\n.\\r\nP: 80\nS~ \\n\n"));

TEST_F(Pop3ClientTest, DotStuffedLinesLoseTheirFirstDot) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: LIST 1\nS: +OK 1 100\nC: RETR 1\nS: +OK\nS: Subject: dots\nS: \n"
                        "S: ..x\nS: ...\nS: plain\nS: .\n");
  connectTo(server);
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.Retrieve(1, msg));
  EXPECT_EQ(msg.Text, (mail::TStringList{".x", "..", "plain"}));
  EXPECT_TRUE(server.Finished());
}

// Servers end lines with CR LF, a bare LF or a bare CR; each is one break.
TEST_F(Pop3ClientTest, EveryKindOfLineBreakEndsOneLine) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: LIST 1\nS: +OK 1 100\nC: RETR 1\n"
                        "S~ +OK\\r\\nSubject: breaks\\n\\r\\none\\rtwo\\nthree\\r\\r\\n"
                        "\\rfour\\r\\n.\\r\\n\n");
  connectTo(server);
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.Retrieve(1, msg));
  EXPECT_EQ(msg.Subject, "breaks");
  EXPECT_EQ(msg.Text, (mail::TStringList{"one", "two", "three", "", "", "four"}));
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, StatusLineArrivingInPiecesIsReadWhole) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: STAT\nS~ +O\nP: 80\nS~ K 1\nP: 80\nS~ 7 4000\\r\nP: 80\nS~ \\n\n"
                        "C: LAST\nS: +OK 0\nC: UIDL\nS: +OK\nP: 80\nS: .\n"
                        "C: NOOP\nS: +OK\n");
  connectTo(server);
  client.GetStat();
  EXPECT_EQ(client.MessageCount, 17);
  EXPECT_TRUE(client.UIDLSupported);
  client.Noop();
  EXPECT_EQ(client.ReplyStatus, "+OK");
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, RefusedTopLeavesAnEmptyMessageAndTheCheckGoesOn) {
  ScriptedServer server(std::string(kGreeting) + kStatNoUidl +
                        "C: LIST 1\nS: +OK 1 320\nC: TOP 1 0\nS: -ERR gone\n"
                        "C: LIST 2\nS: +OK 2 320\nC: TOP 2 0\nS: +OK\nS: Subject: two\nS: .\n");
  connectTo(server);
  client.GetStat();
  mail::TMailMessageList list;
  EXPECT_EQ(client.RetrieveAllHeaders(list), 2);
  EXPECT_EQ(list.Items(0).Subject, "");
  EXPECT_EQ(list.Items(1).Subject, "two");
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, RetrieveAllAfterDeleteSkipsTheDeletedMessageButNotTheOnesAfterIt) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: STAT\nS: +OK 3 900\nC: LAST\nS: -ERR\nC: UIDL\nS: -ERR\n"
                        "C: DELE 2\nS: +OK deleted\n"
                        "C: LIST 1\nS: +OK 1 300\nC: TOP 1 0\nS: +OK\nS: Subject: one\nS: .\n"
                        "C: LIST 3\nS: +OK 3 300\nC: TOP 3 0\nS: +OK\nS: Subject: three\nS: .\n");
  connectTo(server);
  client.GetStat();
  client.DeleteMessage(2);
  EXPECT_EQ(client.MessageCount, 2);
  EXPECT_EQ(client.DeletedNumbers, mail::TStringList{"2"});
  mail::TMailMessageList list;
  ASSERT_EQ(client.RetrieveAllHeaders(list), 2);
  EXPECT_EQ(list.Items(0).Subject, "one");
  EXPECT_EQ(list.Items(1).Subject, "three");
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, AbortDuringARetrievalDiscardsTheMessageAndLeavesNoSpoolFile) {
  ScriptedServer server(std::string(kGreeting) + kStatNoUidl +
                        "C: LIST 1\nS: +OK 1 320\nC: TOP 1 0\nS: +OK\nS: Subject: one\n"
                        "P: 1200\nS: From: a@b.c\nP: 100\nS: .\n");
  connectTo(server);
  AbortingPump pump(client);
  client.SetEventPump(pump);
  client.GetStat();
  std::vector<std::string> filesDuringRetrieval;
  mail::TMailMessageList list;
  EXPECT_EQ(client.RetrieveAllHeaders(list), 0);
  EXPECT_TRUE(client.Aborted);
  EXPECT_GE(pump.calls, 1);
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(client.Messages().OwnedCount(), 0u);
  EXPECT_TRUE(spoolFiles().empty());
  // Nothing after the aborted message was asked for; DELE is refused locally.
  client.DeleteMessage(1);
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, ConnectionDroppedBeforeTheReplyIsNotTakenForTheLastStatus) {
  // The "+OK" of NOOP must not stand in for the DELE that never got a reply.
  ScriptedServer server(std::string(kGreeting) + "C: NOOP\nS: +OK\nC: DELE 1\nX:\n");
  connectTo(server);
  client.Noop();
  ASSERT_EQ(client.ReplyStatus, "+OK");
  try {
    client.DeleteMessage(1);
    FAIL() << "a dropped DELE passed for accepted";
  } catch (const Pop3Error& error) {
    EXPECT_STREQ(error.what(), "Receive Failed.  No Longer Connected.");
  }
  EXPECT_TRUE(client.DeletedNumbers.empty());
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, SilentServerTimesOutAndTheConnectionIsClosed) {
  ScriptedServer server(std::string(kGreeting) + "C: NOOP\n");
  connectTo(server);
  int disconnects = 0;
  client.OnDisconnect = [&](TPop3Client&) { ++disconnects; };
  client.OperationTimeout = 700;
  try {
    client.Noop();
    FAIL() << "no time-out";
  } catch (const Pop3Error& error) {
    EXPECT_STREQ(error.what(), "Receive Timeout.  No Data Available.");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(disconnects, 1);
  EXPECT_TRUE(server.Finished());
}

// A client on a FakeSocket: every queued string is exactly one read.
class Pop3FakeSocketTest : public ::testing::Test {
 protected:
  Pop3FakeSocketTest()
      : client([this] {
          auto fake = std::make_unique<test::FakeSocket>();
          socket = fake.get();
          return fake;
        }) {
    client.Host = "pop.example.org";
  }
  void connect(std::initializer_list<std::string> reads) {
    socket->Incoming = {"+OK ready\r\n"};
    for (const std::string& read : reads)
      socket->Incoming.push_back(read);
    ASSERT_TRUE(client.Connect());
  }

  std::vector<std::string> tmpFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(tmp.Path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  // A reply to RETR of exactly `total` octets, status line and terminator
  // included: a header block, then body lines.
  static std::string replyOfSize(std::size_t total) {
    std::string reply = "+OK\r\nSubject: large\r\n\r\n";
    const std::string line = std::string(76, 'b') + "\r\n";
    while (reply.size() + line.size() + 100 < total)
      reply += line;
    reply += std::string(total - reply.size() - 5, 'c') + "\r\n.\r\n";
    return reply;
  }

  test::TempDir tmp;
  test::ScopedTmpDir scopedTmp{tmp.Path()};
  test::FakeSocket* socket = nullptr;
  TPop3Client client;
};

TEST_F(Pop3FakeSocketTest, ProgressIsThinnedToStepsAndRoundsHalvesToEven) {
  // LIST says 1000 octets; the reply comes in reads of 5, 120, 50, 30 and
  // 795 bytes: 12.5 % rounds to 12, 17.5 % to 18 (below the next step),
  // 20.5 % to 20.
  connect({"+OK 1 1000\r\n", "+OK\r\n", std::string(118, 'a') + "\r\n",
           std::string(48, 'b') + "\r\n", std::string(28, 'c') + "\r\n",
           std::string(788, 'd') + "\r\n.\r\n"});
  std::vector<int> percents;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t p) { percents.push_back(p); };
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.Retrieve(1, msg));
  EXPECT_EQ(percents, (std::vector<int>{12, 20, 100}));
  EXPECT_EQ(socket->Sent, "LIST 1\r\nRETR 1\r\n");
}

TEST_F(Pop3FakeSocketTest, ProgressBelowOneHundredAtTheEndIsCompletedOnce) {
  connect({"+OK 1 1000\r\n", "+OK\r\n", std::string(498, 'a') + "\r\n",
           std::string(443, 'b') + "\r\n.\r\n"});
  std::vector<int> percents;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t p) { percents.push_back(p); };
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.Retrieve(1, msg));
  EXPECT_EQ(percents, (std::vector<int>{50, 95, 100}));
}

TEST_F(Pop3FakeSocketTest, AHeaderCheckNeverTouchesTheDisk) {
  connect({"+OK 1 100\r\n", "+OK\r\nSubject: a\r\n", "\r\n.\r\n", "+OK 2 100\r\n",
           "+OK\r\nSubject: b\r\n", "\r\n.\r\n"});
  client.MessageCount = 2;
  std::vector<std::size_t> filesSeen;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t) {
    filesSeen.push_back(tmpFiles().size());
  };
  mail::TMailMessageList list;
  ASSERT_EQ(client.RetrieveAllHeaders(list), 2);
  EXPECT_EQ(filesSeen, std::vector<std::size_t>(4, 0));  // two progress events per message
  EXPECT_EQ(list.Items(1).Subject, "b");
}

// A reply of exactly the memory limit stays in memory; one byte more and the
// whole reply goes to one file.
class Pop3SpoolLimitTest : public Pop3FakeSocketTest,
                           public ::testing::WithParamInterface<std::size_t> {};

TEST_P(Pop3SpoolLimitTest, ReplyLargerThanTheLimitGoesToOneFile) {
  const std::string reply = replyOfSize(SpoolFile::kMemoryLimit + GetParam());
  // LIST overstates the size, so the completing progress event comes after
  // the last byte is spooled.
  connect({"+OK 1 " + std::to_string(2 * reply.size()) + "\r\n", reply});
  std::size_t mostFiles = 0;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t) {
    mostFiles = std::max(mostFiles, tmpFiles().size());
  };
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.Retrieve(1, msg));
  EXPECT_EQ(msg.Subject, "large");
  EXPECT_EQ(msg.Text.back(), std::string(msg.Text.back().size(), 'c')) << "the last line came";
  EXPECT_EQ(mostFiles, GetParam());
  EXPECT_TRUE(tmpFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(BytesBeyondTheLimit, Pop3SpoolLimitTest, ::testing::Values(0, 1));

TEST_F(Pop3FakeSocketTest, ALargeReplyIsSpooledToAPrivateFileNamedAfterUserAndHost) {
  const std::string reply = replyOfSize(300 * 1024);
  connect({"+OK 1 " + std::to_string(reply.size()) + "\r\n", reply});
  client.UserId = " a/b\\c:d ";
  std::vector<std::vector<std::string>> early;  // up to 80 %: still in memory
  std::vector<std::vector<std::string>> late;   // from 90 %: past 256 KiB
  mode_t mode = 0;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t percent) {
    (percent <= 80 ? early : late).push_back(tmpFiles());
    struct stat info {};
    if (late.size() == 1 && late[0].size() == 1 &&
        ::stat((tmp.Path() + "/" + late[0][0]).c_str(), &info) == 0) {
      mode = info.st_mode & 0777;
    }
  };
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.Retrieve(1, msg));
  ASSERT_FALSE(early.empty());
  ASSERT_FALSE(late.empty());
  for (const auto& files : early)
    EXPECT_TRUE(files.empty());
  for (const auto& files : late) {
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        files[0], std::regex(R"(msg-1-a-b-c-d@pop\.example\.org-[0-9A-F]{8}\.\$\$\$)")))
        << files[0];
    EXPECT_EQ(files[0], late[0][0]) << "one file for the whole reply";
  }
  EXPECT_EQ(mode, 0600u);
  EXPECT_TRUE(tmpFiles().empty());
}

TEST_F(Pop3FakeSocketTest, AbortInTheMiddleOfALargeReplyRemovesItsFile) {
  const std::string reply = replyOfSize(300 * 1024);
  connect({"+OK 1 " + std::to_string(reply.size()) + "\r\n", reply});
  std::size_t filesAtAbort = 0;
  client.OnRetrieveProgress = [&](TPop3Client& sender, std::uint16_t percent) {
    if (percent >= 90 && !sender.Aborted) {
      filesAtAbort = tmpFiles().size();
      sender.Abort();
    }
  };
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  EXPECT_FALSE(client.Retrieve(1, msg));
  EXPECT_EQ(filesAtAbort, 1u);
  EXPECT_TRUE(tmpFiles().empty());
}

TEST_F(Pop3FakeSocketTest, ACheckEndedByAnErrorLeavesNoSpoolFile) {
  // The second reply stops after 300 KiB, already in its file, when the
  // server hangs up; the third message then cannot be asked for.
  const std::string large = replyOfSize(600 * 1024);
  connect({"+OK 1 100\r\n", "+OK\r\nSubject: a\r\n\r\n.\r\n",
           "+OK 2 " + std::to_string(large.size()) + "\r\n", large.substr(0, 300 * 1024)});
  client.MessageCount = 3;
  socket->PeerClosesWhenDrained = true;
  std::size_t mostFiles = 0;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t) {
    mostFiles = std::max(mostFiles, tmpFiles().size());
  };
  mail::TMailMessageList list;
  EXPECT_THROW(client.RetrieveAllHeaders(list), Pop3Error);
  EXPECT_EQ(mostFiles, 1u);
  EXPECT_TRUE(tmpFiles().empty());
}

TEST_F(Pop3FakeSocketTest, WithoutATemporaryDirectoryOnlyALargeReplyFailsAndEndsTheSession) {
  test::ScopedTmpDir unusable("/nonexistent/kelvrin");
  const std::string large = replyOfSize(300 * 1024);
  connect({"+OK 1 100\r\n", "+OK\r\nSubject: small\r\n\r\n.\r\n",
           "+OK 2 " + std::to_string(large.size()) + "\r\n", large});
  mail::TMailMessage& small = client.Messages().CreateMessage();
  ASSERT_TRUE(client.RetrieveHeader(1, small));
  EXPECT_EQ(small.Subject, "small");
  mail::TMailMessage& big = client.Messages().CreateMessage();
  try {
    client.Retrieve(2, big);
    FAIL() << "no error";
  } catch (const Pop3Error& error) {
    EXPECT_STREQ(error.what(), "Cannot create a temporary file in /nonexistent/kelvrin.");
  }
  // The rest of the message must not be read as the reply to a later command.
  EXPECT_FALSE(client.Connected());
}

// Every place the terminator CR LF "." CR LF can be cut between two reads.
class Pop3FakeSplitTest : public Pop3FakeSocketTest,
                          public ::testing::WithParamInterface<std::size_t> {};

TEST_P(Pop3FakeSplitTest, TerminatorCutAnywhereEndsTheMessage) {
  const std::string reply = "+OK\r\nSubject: split\r\n\r\nbody\r\n.\r\n";
  const std::size_t cut = reply.size() - 5 + GetParam();
  connect({"+OK 1 40\r\n", reply.substr(0, cut), reply.substr(cut), "+OK 1 x-1\r\n"});
  client.UIDLSupported = true;
  client.GetUIDLsOnRetrieve = true;
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.RetrieveHeader(1, msg));
  EXPECT_EQ(msg.Subject, "split");
  EXPECT_EQ(msg.Text, mail::TStringList{"body"});
  EXPECT_EQ(msg.UIDL, "x-1");
}

INSTANTIATE_TEST_SUITE_P(CutPoints, Pop3FakeSplitTest, ::testing::Values(0, 1, 2, 3, 4));

TEST_F(Pop3ClientTest, OneChunkRetrievalStillReportsCompletion) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: LIST 1\nS: +OK 1 5000\nC: TOP 1 0\nS: +OK\nS: Subject: s\nS: .\n");
  connectTo(server);
  std::vector<int> percents;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t p) { percents.push_back(p); };
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  ASSERT_TRUE(client.RetrieveHeader(1, msg));
  EXPECT_EQ(percents, std::vector<int>{100});
  EXPECT_TRUE(server.Finished());
}

TEST(Pop3SpoolName, NoByteOfUserOrHostCanLeaveTheTemporaryDirectory) {
  const std::string prefix =
      TPop3Client::SpoolFilePrefix(7, "../../u", std::string("h/../x\0y:z", 10));
  EXPECT_EQ(prefix, "msg-7-..-..-u@h-..-x-y-z");
  EXPECT_EQ(prefix.find('/'), std::string::npos);
}

TEST_F(Pop3ClientTest, StatOfMoreThan65535MessagesIsClampedNotWrapped) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: STAT\nS: +OK 70000 9000000\nC: LAST\nS: -ERR\nC: UIDL\nS: -ERR\n");
  connectTo(server);
  client.GetStat();
  EXPECT_EQ(client.MessageCount, 65535);
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, UidlListHoldsOneIdPerMessage) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: UIDL\nS: +OK 2 messages\nS: 1 abc\nP: 50\nS: 2 def\nS: .\n");
  connectTo(server);
  client.UIDLSupported = true;
  client.ServerMessageCount = 2;
  mail::TStringList ids;
  EXPECT_EQ(client.GetUIDLList(ids), 2);
  EXPECT_EQ(ids, (mail::TStringList{"abc", "def"}));
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, RetrieveAllReleasesTheMessagesOfEarlierChecksOnly) {
  const std::string oneMessage =
      "C: LIST 1\nS: +OK 1 100\nC: TOP 1 0\nS: +OK\nS: Subject: s\nS: .\n";
  ScriptedServer server(std::string(kGreeting) + oneMessage + oneMessage + oneMessage);
  connectTo(server);
  client.MessageCount = 1;
  mail::TMailMessageList kept;
  mail::TMailMessageList list;
  client.RetrieveAllHeaders(kept);
  client.RetrieveAllHeaders(list);
  client.RetrieveAllHeaders(list);
  // The first check's message lives on in `kept`; the second's was released.
  EXPECT_EQ(client.Messages().OwnedCount(), 2u);
  EXPECT_EQ(kept.Items(0).Subject, "s");
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, ServerClosingInTheMiddleEndsTheRetrievalWithoutHanging) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: LIST 1\nS: +OK 1 900\nC: RETR 1\nS: +OK\nS: Subject: cut\nX:\n");
  connectTo(server);
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  EXPECT_TRUE(client.Retrieve(1, msg));
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(client.Noop(), Pop3Error);
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3ClientTest, RefusedConnectionFailsConnectAndReportsTheSocketError) {
  std::uint16_t port;
  {
    ScriptedServer unused("");
    port = unused.Port();
  }
  client.Host = "127.0.0.1";
  client.Port = std::to_string(port);
  EXPECT_FALSE(client.Connect());
  EXPECT_TRUE(client.Failed);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, ECONNREFUSED);
  EXPECT_NE(client.LastErrorText.find("refused"), std::string::npos) << client.LastErrorText;
}

TEST(Pop3Settings, PortAndHostTextsAreReadTheWayTheSettingsWriteThem) {
  test::FakeSocket* socket = nullptr;
  TPop3Client client([&socket] {
    auto fake = std::make_unique<test::FakeSocket>();
    socket = fake.get();
    return fake;
  });
  socket->Incoming = {"+OK hello\r\n", "+OK again\r\n"};
  client.Port = "pop";
  client.Host = "256.1.1.1";
  EXPECT_TRUE(client.Connect());
  EXPECT_EQ(socket->Port(), 110);
  EXPECT_EQ(socket->Host(), "256.1.1.1");
  EXPECT_EQ(socket->Addr(), "");
  client.Port = "1995";
  client.Host = "10.1.2.3";
  EXPECT_TRUE(client.Connect());
  EXPECT_EQ(client.ReplyText, "again");
  EXPECT_EQ(socket->Port(), 1995);
  EXPECT_EQ(socket->Addr(), "10.1.2.3");
  EXPECT_EQ(socket->Host(), "");
}

struct NotConnectedCase {
  const char* name;
  std::function<void(TPop3Client&)> operation;
  const char* message;
};

class Pop3NotConnectedTest : public ::testing::TestWithParam<NotConnectedCase> {};

TEST_P(Pop3NotConnectedTest, RaisesTheOperationsText) {
  TPop3Client client;
  client.UIDLSupported = true;
  mail::TMailMessage& msg = client.Messages().CreateMessage();
  mail::TStringList list;
  try {
    if (std::string(GetParam().name) == "RetrieveHeader") {
      client.RetrieveHeader(12, msg);
    } else if (std::string(GetParam().name) == "GetUIDLList") {
      client.GetUIDLList(list);
    } else {
      GetParam().operation(client);
    }
    FAIL() << "no exception";
  } catch (const Pop3Error& error) {
    EXPECT_STREQ(error.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, Pop3NotConnectedTest,
    ::testing::Values(
        NotConnectedCase{"Login", [](TPop3Client& c) { c.Login(); },
                         "Invalid Op. Not connected attempting to login."},
        NotConnectedCase{"GetStat", [](TPop3Client& c) { c.GetStat(); },
                         "Not connected. Attempting to get STAT"},
        NotConnectedCase{"GetMessageSize", [](TPop3Client& c) { c.GetMessageSize(3); },
                         "Not connected. Attempting to get message size."},
        NotConnectedCase{"RetrieveHeader", nullptr,
                         "Not connected. Attempting to receive a message. (12)"},
        NotConnectedCase{"GetUIDL", [](TPop3Client& c) { c.GetUIDL(5); },
                         "Not connected. Attempting to get UIDL. 5)"},
        NotConnectedCase{"GetUIDLList", nullptr, "Not connected. Attempting to get UIDL list."},
        NotConnectedCase{"DeleteMessage", [](TPop3Client& c) { c.DeleteMessage(9); },
                         "Not connected. Attempting to delete a message. (9)"},
        NotConnectedCase{"Reset", [](TPop3Client& c) { c.Reset(); },
                         "Not connected. Attempting to reset server state."},
        NotConnectedCase{"Noop", [](TPop3Client& c) { c.Noop(); }, "Not connected. Sending NOOP."}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplyNumberCase {
  const char* reply;
  int position;
  std::int32_t fallback;
  std::int32_t expected;
};

class Pop3ReplyNumberTest : public ::testing::TestWithParam<ReplyNumberCase> {};

TEST_P(Pop3ReplyNumberTest, ReadsTheWordAtThePosition) {
  EXPECT_EQ(
      TPop3Client::ParseReplyNumber(GetParam().reply, GetParam().position, GetParam().fallback),
      GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Pop3ReplyNumberTest,
    ::testing::Values(ReplyNumberCase{"3 1200", 1, 0, 3}, ReplyNumberCase{"2 1234", 2, 100, 1234},
                      ReplyNumberCase{"2   (1234)", 2, 100, 1234},
                      ReplyNumberCase{"2 {77} octets", 2, 100, 77},
                      ReplyNumberCase{"2", 2, 100, 100}, ReplyNumberCase{"", 1, 0, 0},
                      ReplyNumberCase{"many 12", 1, 0, 0}, ReplyNumberCase{"99999999999", 1, 0, 0},
                      ReplyNumberCase{"1\r\n2 55", 3, 100, 55}));

// --- TLS ---------------------------------------------------------------------

class Pop3TlsTest : public Pop3ClientTest {
 protected:
  test::TestCertificate cert = test::TestCertificate::Create(tmp.Path());
  ScriptedServer::Options tlsOptions() {
    ScriptedServer::Options options;
    options.Certificate = &cert;
    return options;
  }
  std::vector<std::string> spoolFiles() const = delete;
};

TEST_F(Pop3TlsTest, StlsSecuresTheSessionBeforeTheCredentials) {
  ScriptedServer server(std::string(kGreeting) +
                            "C: STLS\nS: +OK begin\nT:\nC: USER bob\nS: +OK\nC: PASS secret\n"
                            "S: +OK\nC: QUIT\n",
                        tlsOptions());
  client.Security = SecurityMode::StartTls;
  client.CaFile = cert.CertFile;
  connectTo(server);
  EXPECT_TRUE(client.Socket().IsTls());
  EXPECT_TRUE(client.Login());
  client.Quit();
  EXPECT_TRUE(server.Finished());
}

TEST_F(Pop3TlsTest, RefusedStlsFailsTheConnectionAndSendsNoCredentials) {
  ScriptedServer server(std::string(kGreeting) + "C: STLS\nS: -ERR not here\nC: QUIT\n");
  client.Security = SecurityMode::StartTls;
  client.Host = "127.0.0.1";
  client.Port = server.PortText();
  EXPECT_FALSE(client.Connect());
  EXPECT_TRUE(client.Failed);
  EXPECT_NE(client.LastErrorText.find("STLS"), std::string::npos);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, kPop3StlsRefused);
  EXPECT_THROW(client.Login(), Pop3Error);
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.ClientLog(), "STLS\r\nQUIT\r\n");
}

TEST_F(Pop3TlsTest, UntrustedCertificateFailsTheConnectionWithAReadableReason) {
  ScriptedServer server(std::string(kGreeting) + "C: STLS\nS: +OK\nT!\n", tlsOptions());
  client.Security = SecurityMode::StartTls;
  client.Host = "127.0.0.1";
  client.Port = server.PortText();
  EXPECT_FALSE(client.Connect());
  EXPECT_EQ(client.LastErrorText,
            "TLS handshake failed: certificate verify failed (self-signed certificate)");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, kTlsErrorCode);
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.ClientLog().find("USER"), std::string::npos);
}

TEST_F(Pop3TlsTest, ImplicitTlsTalksTlsFromTheFirstByte) {
  ScriptedServer::Options options = tlsOptions();
  options.ImplicitTls = true;
  ScriptedServer server(std::string(kGreeting) + "C: USER bob\nS: +OK\nC: PASS secret\nS: +OK\n",
                        options);
  client.Security = SecurityMode::ImplicitTls;
  client.CaFile = cert.CertFile;
  connectTo(server);
  EXPECT_TRUE(client.Login());
  EXPECT_TRUE(server.Finished());
}

}  // namespace
}  // namespace kelvrin::protocols
