// TPop3Client against servers that break the protocol or attack it: bad
// greetings, unreadable counts, listings by number, replies out of step,
// replies without end and servers that trickle.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "protocols/pop3_client.h"
#include "protocols/reply_wait.h"
#include "support/fake_socket.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace kelvrin::protocols {
namespace {

using test::ScriptedServer;

// A clock that moves by step at every reading, so that time passes while a
// server streams without pause.
class SteppingClock final : public Clock {
 public:
  explicit SteppingClock(std::int64_t step) : step_(step) {}
  std::int64_t TickCount() override { return now += step_; }
  void Sleep(int ms) override { now += ms > 0 ? ms : 0; }
  std::int64_t now = 0;

 private:
  std::int64_t step_;
};

// Records the longest stretch of clock time between two pumps.
class GapPump final : public EventPump {
 public:
  explicit GapPump(Clock& clock) : clock_(clock) {}
  void ProcessEvents() override {
    const std::int64_t now = clock_.TickCount();
    if (last_ >= 0) longest = std::max(longest, now - last_);
    last_ = now;
    ++calls;
    if (onCall) onCall(calls);
  }
  std::int64_t longest = 0;
  int calls = 0;
  std::function<void(int)> onCall;

 private:
  Clock& clock_;
  std::int64_t last_ = -1;
};

// A FakeSocket that streams the same bytes for ever once its queue is empty.
class EndlessSocket final : public test::FakeSocket {
 public:
  std::string Forever;

 protected:
  bool doWaitReadable(int timeoutMs) override {
    return !Incoming.empty() || !Forever.empty() || FakeSocket::doWaitReadable(timeoutMs);
  }
  std::size_t doReceive(char* buffer, std::size_t size) override {
    if (Incoming.empty() && !Forever.empty()) Incoming.push_back(Forever);
    return FakeSocket::doReceive(buffer, size);
  }
};

class Pop3HostileTest : public ::testing::Test {
 protected:
  Pop3HostileTest()
      : client([this] {
          auto fake = std::make_unique<EndlessSocket>();
          socket = fake.get();
          return fake;
        }) {
    client.Host = "pop.example.org";
    client.SetClock(clock);
    client.OperationTimeout = 90000;
  }
  void connect(std::vector<std::string> reads) {
    socket->Incoming = {"+OK ready\r\n"};
    for (std::string& read : reads)
      socket->Incoming.push_back(std::move(read));
    ASSERT_TRUE(client.Connect()) << client.LastErrorText;
  }
  std::size_t tmpFiles() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(tmp.Path()),
                                                  std::filesystem::directory_iterator()));
  }
  // Runs call and returns the text of the Pop3Error it must raise.
  template <typename Call>
  std::string errorOf(Call call) {
    try {
      call();
    } catch (const Pop3Error& e) {
      return e.what();
    }
    return "(no error)";
  }

  test::TempDir tmp;
  test::ScopedTmpDir scopedTmp{tmp.Path()};
  SteppingClock clock{1};
  EndlessSocket* socket = nullptr;
  TPop3Client client;
};

struct GreetingCase {
  const char* name;
  std::string greeting;
};

class Pop3GreetingTest : public Pop3HostileTest,
                         public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(Pop3GreetingTest, NoCommandBeforeAPositiveGreeting) {
  socket->Incoming = {GetParam().greeting};
  socket->PeerClosesWhenDrained = true;
  EXPECT_FALSE(client.Connect());
  EXPECT_EQ(socket->Sent, "") << "nothing may be sent, least of all the password";
  EXPECT_FALSE(client.LastErrorText.empty());
  EXPECT_THROW(client.Login(), Pop3Error) << "a login without a connection sends nothing either";
  EXPECT_EQ(socket->Sent, "");
}

INSTANTIATE_TEST_SUITE_P(Greetings, Pop3GreetingTest,
                         ::testing::Values(GreetingCase{"Refusal", "-ERR busy\r\n"},
                                           GreetingCase{"NoStatus", "hello there\r\n"},
                                           GreetingCase{"NoLineEnd", std::string(70000, '+')},
                                           GreetingCase{"OkWithoutLineEnd", "+OK ready"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3HostileTest, BareLineFeedsEndLinesAndReplies) {
  socket->Incoming = {"+OK ready\n", "+OK 2 320\n", "+OK 0\n", "+OK\n1 a\n2 b\n.\n"};
  ASSERT_TRUE(client.Connect());
  client.GetStat();
  EXPECT_EQ(client.MessageCount, 2);
  EXPECT_TRUE(client.UIDLSupported);
  EXPECT_TRUE(client.Connected());
  EXPECT_LT(clock.now, 1000) << "no wait for a CR that never comes";
}

struct StatCase {
  const char* name;
  std::string reply;
};

class Pop3StatTest : public Pop3HostileTest, public ::testing::WithParamInterface<StatCase> {};

TEST_P(Pop3StatTest, AnUnreadableCountIsAnErrorNotAnEmptyMailbox) {
  connect({GetParam().reply});
  EXPECT_NE(errorOf([&] { client.GetStat(); }).find("STAT reply"), std::string::npos);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(socket->Sent, "STAT\r\n") << "no QUIT, no further command";
}

INSTANTIATE_TEST_SUITE_P(Replies, Pop3StatTest,
                         ::testing::Values(StatCase{"Negative", "+OK -3 100\r\n"},
                                           StatCase{"NotANumber", "+OK many 100\r\n"},
                                           StatCase{"Empty", "+OK\r\n"},
                                           StatCase{"NoStatus", "hello 3 100\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3HostileTest, AnEndlessStatusLineEndsTheSession) {
  connect({});
  socket->Forever = std::string(4096, '7');
  EXPECT_NE(errorOf([&] { client.GetStat(); }).find("status line of more than"), std::string::npos);
  EXPECT_FALSE(client.Connected());
}

TEST_F(Pop3HostileTest, MoreThan65535MessagesAreCountedAsTheServerSaidThem) {
  connect({"+OK 70000 9000000\r\n", "-ERR\r\n", "-ERR\r\n"});
  client.GetStat();
  EXPECT_EQ(client.MessageCount, 65535);
  EXPECT_EQ(client.ServerMessageCount, 70000);
}

struct ScanCase {
  const char* name;
  std::string reply;
  bool named;  // the reply is about the message asked for
};

class Pop3ScanTest : public Pop3HostileTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(Pop3ScanTest, UidlAndListRepliesMustNameTheMessageAskedFor) {
  for (bool uidl : {true, false}) {
    SCOPED_TRACE(uidl ? "UIDL" : "LIST");
    connect({GetParam().reply});
    client.UIDLSupported = true;
    const std::string error = errorOf([&] {
      if (uidl) {
        (void)client.GetUIDL(2);
      } else {
        (void)client.GetMessageSize(2);
      }
    });
    if (GetParam().named) {
      EXPECT_EQ(error, "(no error)");
      EXPECT_TRUE(client.Connected());
    } else {
      EXPECT_NE(error.find("message 2"), std::string::npos) << error;
      EXPECT_FALSE(client.Connected()) << "the session ends";
      EXPECT_EQ(socket->Sent.find("QUIT"), std::string::npos) << "without QUIT";
    }
    socket->Sent.clear();
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, Pop3ScanTest,
                         ::testing::Values(ScanCase{"Named", "+OK 2 77\r\n", true},
                                           ScanCase{"NamedWithBlanks", "+OK  2  77 \r\n", true},
                                           ScanCase{"Other", "+OK 1 77\r\n", false},
                                           ScanCase{"NoNumber", "+OK 77\r\n", false},
                                           ScanCase{"Nothing", "+OK\r\n", false},
                                           ScanCase{"Prefix", "+OK 22 77\r\n", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3HostileTest, AForgedLineAfterAMultiLineReplyIsReadAsTheNextReplyAndRefused) {
  client.GetUIDLsOnRetrieve = true;
  client.UIDLSupported = true;
  connect({"+OK 2 100\r\n", "+OK\r\nSubject: a\r\n\r\n.\r\n+OK 1 forged-id\r\n", "+OK 2 real\r\n"});
  mail::TMailMessage& message = client.Messages().CreateMessage();
  EXPECT_EQ(errorOf([&] { client.RetrieveHeader(2, message); }),
            "The server's UIDL reply does not name message 2.");
  EXPECT_NE(message.UIDL, "forged-id");
  EXPECT_EQ(message.Subject, "a") << "the forged line is not part of the message";
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(socket->Sent, "LIST 2\r\nTOP 2 0\r\nUIDL 2\r\n") << "no QUIT";
}

TEST_F(Pop3HostileTest, BytesAfterAReplyAreKeptForTheNextCommand) {
  client.UIDLSupported = true;
  connect({"+OK 1 100\r\n+OK 1 id-1\r\n"});
  EXPECT_EQ(client.GetMessageSize(1), 100);
  EXPECT_EQ(client.GetUIDL(1), "id-1");
}

struct ListingCase {
  const char* name;
  std::string lines;  // between the status line and "."
  std::int32_t result;
  mail::TStringList ids;
};

class Pop3ListingTest : public Pop3HostileTest,
                        public ::testing::WithParamInterface<ListingCase> {};

TEST_P(Pop3ListingTest, EachIdGoesToTheMessageItsLineNames) {
  connect({"+OK\r\n" + GetParam().lines + ".\r\n"});
  client.UIDLSupported = true;
  client.ServerMessageCount = 3;
  client.MessageCount = 3;
  mail::TStringList ids{"stale"};
  EXPECT_EQ(client.GetUIDLList(ids), GetParam().result);
  EXPECT_EQ(ids, GetParam().ids);
  EXPECT_EQ(client.ListingProblem.empty(), GetParam().result >= 0) << client.ListingProblem;
}

INSTANTIATE_TEST_SUITE_P(
    Listings, Pop3ListingTest,
    ::testing::Values(ListingCase{"InOrder", "1 a\r\n2 b\r\n3 c\r\n", 3, {"a", "b", "c"}},
                      ListingCase{"OutOfOrder", "3 c\r\n1 a\r\n2 b\r\n", 3, {"a", "b", "c"}},
                      ListingCase{"Gap", "1 a\r\n3 c\r\n", 3, {"a", "", "c"}},
                      ListingCase{"SameIdTwice", "1 a\r\n2 a\r\n3 c\r\n", 3, {"a", "a", "c"}},
                      ListingCase{"NumberTwice", "1 a\r\n1 b\r\n3 c\r\n", -1, {}},
                      ListingCase{"BeyondTheCount", "1 a\r\n2 b\r\n4 d\r\n", -1, {}},
                      ListingCase{"Zero", "0 z\r\n1 a\r\n", -1, {}},
                      ListingCase{"NoNumber", "a\r\nb\r\nc\r\n", -1, {}},
                      ListingCase{"NoId", "1\r\n2 b\r\n", -1, {}},
                      ListingCase{"ForgedStatus", "+OK 1 forged\r\n1 a\r\n", -1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3HostileTest, AListingWhoseStatusIsNeitherOkNorErrEndsTheSession) {
  for (const std::string status : {"+\xb2K", "OK", "+OKAY", "*"}) {
    connect({status + "\r\n1 a\r\n.\r\n"});
    client.UIDLSupported = true;
    client.ServerMessageCount = 1;
    mail::TStringList ids{"stale"};
    EXPECT_EQ(errorOf([&] { client.GetUIDLList(ids); }),
              "The server's UIDL reply is neither +OK nor -ERR.")
        << status;
    EXPECT_TRUE(ids.empty()) << status;
    EXPECT_FALSE(client.Connected()) << status;
    EXPECT_EQ(socket->Sent.find("QUIT"), std::string::npos) << status << ": without QUIT";
    socket->Sent.clear();
  }
}

TEST_F(Pop3HostileTest, AListingCutOffByTheServerIsUnusable) {
  connect({"+OK\r\n1 a\r\n2 b\r\n"});
  socket->PeerClosesWhenDrained = true;
  client.UIDLSupported = true;
  client.ServerMessageCount = 3;
  mail::TStringList ids;
  EXPECT_EQ(client.GetUIDLList(ids), -1);
  EXPECT_TRUE(ids.empty());
  EXPECT_FALSE(client.ListingProblem.empty());
}

struct BoundCase {
  const char* name;
  bool header;
  std::string listSize;
  std::string error;
};

class Pop3BoundTest : public Pop3HostileTest, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(Pop3BoundTest, AReplyWithoutEndStopsAtItsBound) {
  connect({"+OK 1 " + GetParam().listSize + "\r\n", "+OK\r\n"});
  socket->Forever = std::string(2046, 'x') + "\r\n";
  std::size_t largestSpool = 0;
  client.OnRetrieveProgress = [&](TPop3Client&, std::uint16_t) {
    largestSpool = std::max(largestSpool, tmpFiles());
  };
  mail::TMailMessage& message = client.Messages().CreateMessage();
  EXPECT_EQ(errorOf([&] {
              if (GetParam().header) {
                client.RetrieveHeader(1, message);
              } else {
                client.Retrieve(1, message);
              }
            }),
            GetParam().error);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(socket->Sent.find("QUIT"), std::string::npos);
  EXPECT_EQ(tmpFiles(), 0u) << "the spool file goes with the session";
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Pop3BoundTest,
    ::testing::Values(BoundCase{"Header", true, "100",
                                "The server sent more than 8 MiB for message 1."},
                      BoundCase{"MessageByItsSize", false, "100000",
                                "The server sent more than 211 KiB for message 1."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3HostileTest, AnEndlessListingStopsAtItsBound) {
  connect({"+OK\r\n"});
  socket->Forever = "1 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
  client.UIDLSupported = true;
  client.ServerMessageCount = 10;
  mail::TStringList ids;
  EXPECT_EQ(errorOf([&] { client.GetUIDLList(ids); }),
            "The server sent more than 6 KiB for the id listing.");
  EXPECT_FALSE(client.Connected());
}

TEST_F(Pop3HostileTest, AServerThatTricklesMeetsTheReplysDeadline) {
  clock = SteppingClock(250);  // every reading of the clock: a quarter second
  connect({"+OK 1 100\r\n", "+OK\r\n"});
  socket->Forever = "x";
  mail::TMailMessage& message = client.Messages().CreateMessage();
  EXPECT_EQ(errorOf([&] { client.RetrieveHeader(1, message); }),
            "Receive Timeout.  No Data Available.");
  EXPECT_FALSE(client.Connected());
  // The time-out plus 8 MiB at the slowest rate allowed, and no more.
  EXPECT_LT(clock.now, 90000 + 1024 * 1000 + 2000);
}

TEST_F(Pop3HostileTest, CancelActsWhileTheServerStreamsWithoutPause) {
  clock = SteppingClock(1);
  GapPump pump(clock);
  client.SetEventPump(pump);
  connect({"+OK 1 1000000000\r\n", "+OK\r\n"});
  socket->Forever = std::string(2046, 'x') + "\r\n";
  std::int64_t abortedAt = -1;
  pump.onCall = [&](int) {
    if (clock.now > 2000 && abortedAt < 0) {
      abortedAt = clock.now;
      client.Abort();
    }
  };
  mail::TMailMessage& message = client.Messages().CreateMessage();
  EXPECT_FALSE(client.Retrieve(1, message));
  ASSERT_GE(abortedAt, 0);
  EXPECT_LE(pump.longest, kPumpIntervalMs + 5);
  EXPECT_LE(clock.now - abortedAt, 20) << "the retrieval stops at the next chunk";
}

TEST(Pop3ListingLine, ParsesNumberAndOneWord) {
  EXPECT_EQ(ParseListingLine(" 12  abc ")->Number, 12u);
  EXPECT_EQ(ParseListingLine(" 12  abc ")->Value, "abc");
  for (const char* bad : {"", "12", "x 12", "12 a b", "-1 a", "99999999999 a", "1\tx"}) {
    EXPECT_FALSE(ParseListingLine(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace kelvrin::protocols
