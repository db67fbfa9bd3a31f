// PosixSocket over loopback: error reporting, a vanished peer, TLS checks.

#include "protocols/posix_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocols/pop3_client.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace kelvrin::protocols {
namespace {

using test::ScriptedServer;

std::uint16_t closedPort() {
  ScriptedServer unused("");
  return unused.Port();
}

// More than the loopback buffers of both ends hold, so that a peer that does
// not read makes the send wait.
const std::string& blockLargerThanTheBuffers() {
  static const std::string block(64 << 20, 'x');
  return block;
}

TEST(PosixSocket, RefusedConnectRunsTheErrorCallbackThenThrows) {
  PosixSocket socket;
  std::vector<std::string> order;
  socket.OnLookup = [&] { order.push_back("lookup"); };
  socket.OnConnecting = [&] { order.push_back("connecting"); };
  socket.OnConnected = [&] { order.push_back("connected"); };
  socket.OnError = [&](const SocketError& e) { order.push_back("error " + e.Call()); };
  socket.SetAddr("127.0.0.1");
  socket.SetPort(closedPort());
  try {
    socket.Open(2000);
    FAIL() << "no exception";
  } catch (const SocketError& error) {
    order.push_back("thrown");
    EXPECT_EQ(error.Code(), ECONNREFUSED);
    EXPECT_EQ(error.Call(), "connect");
    EXPECT_NE(std::string(error.what()).find("Connection refused"), std::string::npos);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"lookup", "connecting", "error connect", "thrown"}));
  EXPECT_FALSE(socket.IsConnected());
}

// A loopback listener that never accepts and whose backlog one connection
// fills: a further connect neither completes nor fails, as with a server
// behind a firewall that drops packets.
class FullBacklog {
 public:
  FullBacklog() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 0) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no listener";
    }
    port_ = ntohs(address.sin_port);
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd done{filler_, POLLOUT, 0};
    if (::poll(&done, 1, 5000) != 1) ADD_FAILURE() << "the filler did not connect";
  }
  ~FullBacklog() {
    ::close(filler_);
    ::close(listener_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  std::uint16_t port_ = 0;
};

TEST(PosixSocketWaits, AConnectThatHangsLetsTheCallerRunUntilTheTimeOut) {
  FullBacklog server;
  PosixSocket socket;
  int calls = 0;
  socket.WhileWaiting = [&] { return ++calls > 0; };
  socket.SetAddr("127.0.0.1");
  socket.SetPort(server.Port());
  try {
    socket.Open(300);
    FAIL() << "connected";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.Code(), ETIMEDOUT) << error.what();
    EXPECT_EQ(error.Call(), "connect");
  }
  EXPECT_GT(calls, 1) << "the wait was not sliced";
  EXPECT_FALSE(socket.IsConnected());
}

TEST(PosixSocketWaits, TheCallerGivesUpAConnectThatHangs) {
  FullBacklog server;
  PosixSocket socket;
  int calls = 0;
  std::vector<int> errors;
  socket.WhileWaiting = [&] { return ++calls < 3; };
  socket.OnError = [&](const SocketError& e) { errors.push_back(e.Code()); };
  socket.SetAddr("127.0.0.1");
  socket.SetPort(server.Port());
  try {
    socket.Open(0);  // no time-out: only the caller ends the wait
    FAIL() << "connected";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.Code(), ECANCELED) << error.what();
  }
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(errors, std::vector<int>{ECANCELED});
}

// Pumps, and cancels the client at its n-th call.
class CancellingPump final : public EventPump {
 public:
  void ProcessEvents() override {
    if (++calls == cancelAt && client) client->Abort();
  }
  int calls = 0;
  int cancelAt = 0;
  TPop3Client* client = nullptr;
};

TEST(PosixSocketWaits, Pop3ConnectPumpsAndACancelMeanwhileEndsIt) {
  FullBacklog server;
  for (const int cancelAt : {0, 4}) {
    TPop3Client client;
    CancellingPump pump;
    pump.cancelAt = cancelAt;
    pump.client = &client;
    client.SetEventPump(pump);
    client.Host = "127.0.0.1";
    client.Port = std::to_string(server.Port());
    client.OperationTimeout = cancelAt == 0 ? 300 : 60000;
    client.Abort();  // a Cancel from before does not stop the next connect
    EXPECT_FALSE(client.Connect());
    if (cancelAt == 0) {
      EXPECT_NE(client.LastErrorText.find("timed out"), std::string::npos) << client.LastErrorText;
      EXPECT_GT(pump.calls, 1);
    } else {
      EXPECT_NE(client.LastErrorText.find("Cancelled"), std::string::npos) << client.LastErrorText;
      EXPECT_EQ(pump.calls, cancelAt);
    }
  }
}

TEST(PosixSocketWaits, Pop3SendPumpsWhileThePeerDoesNotReadAndACancelEndsIt) {
  ScriptedServer server("S: +OK ready\nP: 2000\n");
  TPop3Client client;
  CancellingPump pump;
  pump.client = &client;
  client.SetEventPump(pump);
  client.Host = "127.0.0.1";
  client.Port = server.PortText();
  client.OperationTimeout = 60000;
  ASSERT_TRUE(client.Connect()) << client.LastErrorText;
  pump.cancelAt = pump.calls + 4;
  client.UserId = blockLargerThanTheBuffers();
  try {
    client.Login();
    FAIL() << "the USER line went out whole";
  } catch (const SocketError& error) {
    EXPECT_STREQ(error.what(), "Cancelled (send)");
  }
  EXPECT_EQ(pump.calls, pump.cancelAt) << "the pump ran in the wait, the Cancel ended it";
  EXPECT_FALSE(client.Connected());
}

// Work that runs until the test lets it finish.
struct Latch {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  std::atomic<bool> finished{false};
  void release() {
    const std::lock_guard<std::mutex> lock(mutex);
    open = true;
    opened.notify_all();
  }
};

TEST(PosixSocketWaits, HelperThreadWorkIsWaitedForInSlices) {
  auto latch = std::make_shared<Latch>();
  auto work = [latch] {
    std::unique_lock<std::mutex> lock(latch->mutex);
    latch->opened.wait(lock, [&] { return latch->open; });
    latch->finished = true;
  };
  int calls = 0;
  // Given up by the caller while the work still runs.
  EXPECT_EQ(RunOnHelperThread(work, 0, [&] { return ++calls < 3; }), HelperOutcome::Cancelled);
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(latch->finished);
  // Given up at the time-out.
  calls = 0;
  EXPECT_EQ(RunOnHelperThread(work, 100, [&] { return ++calls > 0; }), HelperOutcome::TimedOut);
  EXPECT_GE(calls, 1);
  EXPECT_FALSE(latch->finished);
  // Waited for to its end: what it did is there to see.
  latch->release();
  calls = 0;
  auto result = std::make_shared<int>(0);
  EXPECT_EQ(RunOnHelperThread([result] { *result = 42; }, 5000, [&] { return ++calls > 0; }),
            HelperOutcome::Done);
  EXPECT_EQ(*result, 42);
}

class PosixSocketPeerTest : public ::testing::TestWithParam<bool> {
 protected:
  test::TempDir tmp;
  test::TestCertificate cert = test::TestCertificate::Create(tmp.Path());

  std::unique_ptr<ScriptedServer> serverThatCloses() {
    ScriptedServer::Options options;
    options.Certificate = &cert;
    options.ImplicitTls = GetParam();
    return std::make_unique<ScriptedServer>("S: bye\nX:\n", options);
  }
  void open(PosixSocket& socket, const ScriptedServer& server) {
    socket.SetHost("localhost");
    socket.SetPort(server.Port());
    socket.SetImplicitTls(GetParam());
    socket.SetCaFile(cert.CertFile);
    socket.Open(5000);
  }
};

TEST_P(PosixSocketPeerTest, PeerThatClosedIsReadableThenReadsZeroAndIsNoLongerConnected) {
  auto server = serverThatCloses();
  PosixSocket socket;
  open(socket, *server);
  std::string got;
  char buffer[64];
  while (got.size() < 5) {
    ASSERT_TRUE(socket.WaitReadable(5000));
    const std::size_t n = socket.Receive(buffer, sizeof buffer);
    ASSERT_GT(n, 0u);
    got.append(buffer, n);
  }
  EXPECT_EQ(got, "bye\r\n");
  ASSERT_TRUE(socket.WaitReadable(5000));
  EXPECT_EQ(socket.Receive(buffer, sizeof buffer), 0u);
  EXPECT_FALSE(socket.IsConnected());
  EXPECT_TRUE(server->Finished());
}

TEST_P(PosixSocketPeerTest, SendingToAVanishedPeerFailsWithAnErrorNotASignal) {
  auto server = serverThatCloses();
  PosixSocket socket;
  open(socket, *server);
  EXPECT_TRUE(server->Finished());
  int errors = 0;
  socket.OnError = [&](const SocketError&) { ++errors; };
  const std::string block(65536, 'x');
  bool failed = false;
  for (int i = 0; i < 200 && !failed; ++i) {
    try {
      socket.Send(block);
    } catch (const SocketError& error) {
      failed = true;
      EXPECT_TRUE(error.Code() == EPIPE || error.Code() == ECONNRESET ||
                  error.Code() == kTlsErrorCode)
          << error.what();
    }
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(errors, 1);
}

TEST_P(PosixSocketPeerTest, ASendThePeerDoesNotTakeWaitsInSlicesUntilTheCallerGivesUp) {
  ScriptedServer::Options options;
  options.Certificate = &cert;
  options.ImplicitTls = GetParam();
  ScriptedServer server("P: 2000\n", options);  // accepts, then reads nothing
  PosixSocket socket;
  open(socket, server);
  int calls = 0;
  std::vector<std::string> errors;
  socket.WhileWaiting = [&] { return ++calls < 5; };
  socket.OnError = [&](const SocketError& e) { errors.emplace_back(e.what()); };
  try {
    socket.Send(blockLargerThanTheBuffers());
    FAIL() << "the peer took it all";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.Code(), ECANCELED) << error.what();
    EXPECT_EQ(error.Call(), "send");
  }
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(errors, std::vector<std::string>{"Cancelled (send)"});
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, PosixSocketPeerTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST(PosixSocketTls, RecordsWithoutDataDoNotMakeTheSocketReadable) {
  test::TempDir tmp;
  test::TestCertificate cert = test::TestCertificate::Create(tmp.Path());
  ScriptedServer::Options options;
  options.Certificate = &cert;
  options.ImplicitTls = true;
  ScriptedServer server("P: 600\nS: late\n", options);
  PosixSocket socket;
  socket.SetAddr("127.0.0.1");
  socket.SetPort(server.Port());
  socket.SetImplicitTls(true);
  socket.SetCaFile(cert.CertFile);
  socket.Open(5000);
  // TLS 1.3 sends session tickets after the handshake: bytes on the wire,
  // but nothing to receive.
  EXPECT_FALSE(socket.WaitReadable(200));
  ASSERT_TRUE(socket.WaitReadable(5000));
  char buffer[64];
  EXPECT_EQ(std::string(buffer, socket.Receive(buffer, sizeof buffer)), "late\r\n");
  EXPECT_TRUE(server.Finished());
}

struct CertificateCase {
  const char* name;
  const char* subjectAltNames;
  const char* host;   // a name, or an address given as such
  bool trusted;       // the certificate is given as CA file
  const char* error;  // nullptr: the handshake succeeds
};

class PosixSocketCertificateTest : public ::testing::TestWithParam<CertificateCase> {};

TEST_P(PosixSocketCertificateTest, VerifiesTheServer) {
  test::TempDir tmp;
  const test::TestCertificate cert =
      test::TestCertificate::Create(tmp.Path(), "server", GetParam().subjectAltNames);
  ScriptedServer::Options options;
  options.Certificate = &cert;
  const bool succeeds = GetParam().error == nullptr;
  ScriptedServer server(succeeds ? "T:\nS: hello\n" : "T!\n", options);
  PosixSocket socket;
  if (std::string(GetParam().host) == "127.0.0.1") {
    socket.SetAddr(GetParam().host);
  } else {
    socket.SetHost(GetParam().host);
  }
  socket.SetPort(server.Port());
  if (GetParam().trusted) socket.SetCaFile(cert.CertFile);
  socket.Open(5000);
  int callbacks = 0;
  socket.OnError = [&](const SocketError&) { ++callbacks; };
  if (succeeds) {
    socket.StartTls(5000);
    EXPECT_TRUE(socket.IsTls());
    ASSERT_TRUE(socket.WaitReadable(5000));
  } else {
    try {
      socket.StartTls(5000);
      FAIL() << "the handshake succeeded";
    } catch (const SocketError& error) {
      EXPECT_EQ(std::string(error.what()), GetParam().error);
      EXPECT_EQ(error.Code(), kTlsErrorCode);
      EXPECT_EQ(callbacks, 1);
      EXPECT_FALSE(socket.IsConnected());
    }
  }
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, PosixSocketCertificateTest,
    ::testing::Values(
        CertificateCase{"TrustedName", "DNS:localhost,IP:127.0.0.1", "localhost", true, nullptr},
        CertificateCase{"TrustedAddress", "DNS:localhost,IP:127.0.0.1", "127.0.0.1", true, nullptr},
        CertificateCase{"SelfSigned", "DNS:localhost,IP:127.0.0.1", "localhost", false,
                        "TLS handshake failed: certificate verify failed (self-signed "
                        "certificate)"},
        CertificateCase{"OtherName", "DNS:mail.example.org", "localhost", true,
                        "TLS handshake failed: certificate verify failed (hostname mismatch)"},
        CertificateCase{"AddressNotInCertificate", "DNS:localhost", "127.0.0.1", true,
                        "TLS handshake failed: certificate verify failed (IP address "
                        "mismatch)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::protocols
