// The Linux side of the version check and the website monitor: the HTTPS
// fetch against a local server with a test certificate authority, the
// version check over it, and the bounded host test.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/app_fixture.h"
#include "platform/host_probe.h"
#include "platform/qt_https_fetch.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

#include "update/version_checker.h"

namespace kelvrin::test {
namespace {

struct HttpsServer {
  HttpsServer(const std::string& dir, const TestCertificate& cert, const std::string& root)
      : port(FreeLoopbackPort()),
        process(
            {"/usr/bin/python3", std::string(KELVRIN_SOURCE_DIR) + "/tests/update/https_server.py",
             "--port", std::to_string(port), "--cert", cert.CertFile, "--key", cert.KeyFile,
             "--root", root},
            dir + "/server-" + std::to_string(port) + ".log") {
    if (!WaitForListener(port, 10000)) throw std::runtime_error("the HTTPS server did not start");
  }
  std::string url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port) + path;
  }
  std::uint16_t port;
  ChildProcess process;
};

class PlatformUpdateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "kelvrin_update_platform_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QCoreApplication(argc, argv);
    dir_ = new TempDir();
    const std::string d = dir_->Path();
    ca_ = TestCertificate::Create(d, "server");
    const TestCertificate stranger = TestCertificate::Create(d, "stranger");
    std::ofstream(d + "/good.txt") << "version=0.1.0\nhomepage=https://kelvrin.example/\n";
    std::ofstream(d + "/newer.txt") << "version=0.10\nhomepage=https://kelvrin.example/get\n";
    std::ofstream(d + "/garbage.txt") << "<html>moved</html>\n";
    server_ = new HttpsServer(d, ca_, d);
    stranger_ = new HttpsServer(d, stranger, d);
  }
  static void TearDownTestSuite() {
    delete stranger_;
    delete server_;
    delete dir_;
    delete app_;
  }

  static update::FetchResult fetch(const std::string& url) {
    platform::QtHttpsFetch::Options options;
    options.CaFile = QString::fromStdString(ca_.CertFile);
    platform::QtHttpsFetch fetcher(options);
    update::FetchResult got;
    bool done = false;
    QEventLoop loop;
    fetcher.start(
        url, [](int) {},
        [&](update::FetchResult r) {
          got = std::move(r);
          done = true;
          loop.quit();
        });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (!done) loop.exec();
    EXPECT_TRUE(done) << url << ": no result";
    return got;
  }

  static QCoreApplication* app_;
  static TempDir* dir_;
  static TestCertificate ca_;
  static HttpsServer* server_;
  static HttpsServer* stranger_;
};

QCoreApplication* PlatformUpdateTest::app_ = nullptr;
TempDir* PlatformUpdateTest::dir_ = nullptr;
TestCertificate PlatformUpdateTest::ca_;
HttpsServer* PlatformUpdateTest::server_ = nullptr;
HttpsServer* PlatformUpdateTest::stranger_ = nullptr;

TEST_F(PlatformUpdateTest, FetchesOnlyWhatItMayTrustAndWhatIsSmall) {
  struct Case {
    const char* name;
    std::string url;
    bool ok;
    int status;
    std::string error;  // a part of the reason
  };
  const std::vector<Case> cases = {
      {"GoodFile", server_->url("/good.txt"), true, 200, ""},
      {"RedirectStaysHttps", server_->url("/to-https"), true, 200, ""},
      {"MissingFile", server_->url("/missing.txt"), false, 404, "HTTP 404"},
      {"LargeAnnounced", server_->url("/big"), false, 0, "Reply larger than 65536 bytes"},
      {"LargeUnannounced", server_->url("/stream-big"), false, 0, "Reply larger than 65536 bytes"},
      {"RedirectToHttp", server_->url("/to-http"), false, 0, "Redirected away from https"},
      {"UntrustedCertificate", stranger_->url("/good.txt"), false, 0, "SSL handshake failed"},
      {"PlainHttp", "http://127.0.0.1:" + std::to_string(server_->port) + "/good.txt", false, 0,
       "Not an https address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const update::FetchResult r = fetch(c.url);
    EXPECT_EQ(r.Ok, c.ok) << r.Error;
    EXPECT_EQ(r.HttpStatus, c.status);
    if (c.ok) {
      EXPECT_EQ(r.Body.substr(0, 14), "version=0.1.0\n");
    } else {
      EXPECT_FALSE(r.Error.empty());
      EXPECT_NE(r.Error.find(c.error), std::string::npos) << r.Error;
    }
  }
}

TEST_F(PlatformUpdateTest, AbortedFetchNeverReports) {
  platform::QtHttpsFetch::Options options;
  options.CaFile = QString::fromStdString(ca_.CertFile);
  platform::QtHttpsFetch fetcher(options);
  bool reported = false;
  fetcher.start(server_->url("/good.txt"), {}, [&](update::FetchResult) { reported = true; });
  fetcher.abort();
  // A second fetch on the same object reports, and only its own result.
  update::FetchResult second;
  QEventLoop loop;
  fetcher.start(server_->url("/missing.txt"), {}, [&](update::FetchResult r) {
    second = std::move(r);
    loop.quit();
  });
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_FALSE(reported);
  EXPECT_EQ(second.HttpStatus, 404);
}

TEST_F(PlatformUpdateTest, UsersCheckTellsWhatTheServerHolds) {
  struct Case {
    const char* name;
    std::string path;
    std::string box;
    std::string status;
    std::string reason;  // a part of panel 2
  };
  const std::vector<Case> cases = {
      {"SameVersion", "/good.txt", "No update available", "Status: No update available.",
       "is the newest"},
      {"Newer", "/newer.txt", "Kelvrin 0.10 is available", "Status: Version 0.10 available",
       "https://kelvrin.example/get"},
      {"Missing", "/missing.txt", "No update available", "Status: No update available.",
       "HTTP 404"},
      {"Garbage", "/garbage.txt", "No update available", "Status: No update available.",
       "Unreadable upgrade information"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir home;
    FakeClock clock;
    CountingPump pump;
    FakePrompter prompter;
    app::TKVmain kv(app::Ports{{}, pump, clock, prompter}, home.Path());
    kv.FormCreate();
    kv.State.OnlineState = app::kOnline;
    kv.State.MainWindowVisible = true;
    platform::QtHttpsFetch::Options options;
    options.CaFile = QString::fromStdString(ca_.CertFile);
    platform::QtHttpsFetch fetcher(options);
    platform::ResolverHostProbe probe(pump);
    auto owned =
        std::make_unique<update::VersionChecker>(kv, fetcher, probe, server_->url(c.path), "0.1.0");
    auto* checker = owned.get();
    kv.setVersionCheck(std::move(owned));
    kv.versionCheck().Check4NewVer1Click();
    ASSERT_TRUE(checker->FetchRunning());
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (!checker->FetchRunning()) loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_FALSE(checker->FetchRunning());
    ASSERT_EQ(prompter.Boxes().size(), 1u);
    EXPECT_EQ(prompter.Boxes()[0].Text.substr(0, c.box.size()), c.box);
    EXPECT_EQ(kv.dfsStatus.Status(), c.status);
    EXPECT_NE(kv.dfsStatus.Panel(2).find(c.reason), std::string::npos) << kv.dfsStatus.Panel(2);
    EXPECT_FALSE(kv.State.CheckInProgress);
  }
}

TEST(ResolverHostProbeTest, ResolvesLocalhost) {
  protocols::NullEventPump pump;
  platform::ResolverHostProbe probe(pump);
  EXPECT_TRUE(probe.Probe("localhost"));
  EXPECT_FALSE(probe.Probe(""));
}

TEST(ResolverHostProbeTest, AHangingResolverIsGivenUpWhileEventsRun) {
  CountingPump pump;
  auto release = std::make_shared<std::atomic<bool>>(false);
  platform::ResolverHostProbe probe(pump, 300, [release](const std::string&) {
    while (!release->load())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
  });
  EXPECT_FALSE(probe.Probe("slow.example")) << "a resolution past the limit is not found";
  // Events ran during the wait (every 20 ms; a loaded machine may run
  // fewer slices, a blocking wait none).
  EXPECT_GE(pump.calls, 2);
  release->store(true);
}

}  // namespace
}  // namespace kelvrin::test
