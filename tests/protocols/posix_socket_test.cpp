// PosixSocket over loopback: error reporting, a vanished peer, TLS checks.

#include "protocols/posix_socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

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
