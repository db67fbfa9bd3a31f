#include "update/version_checker.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"

#include "update/update_doubles.h"

namespace kelvrin::test {
namespace {

constexpr const char* kUrl = "https://updates.test/kelvrin-update.txt";

class VersionCheckerTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    auto owned = std::make_unique<update::VersionChecker>(*kv, fetch, probe, kUrl, "1.4.0");
    checker = owned.get();
    kv->setVersionCheck(std::move(owned));
    kv->State.MainWindowVisible = true;
  }

  bool busy() const {
    return kv->State.CheckInProgress && kv->Commands.Enabled("BtCancel") &&
           kv->Commands.Enabled("ToolButton8");
  }
  bool idle() const { return !kv->State.CheckInProgress && !kv->Commands.Enabled("BtCancel"); }

  FakeHttpsFetch fetch;
  FakeHostProbe probe;
  update::VersionChecker* checker = nullptr;
};

struct CountCase {
  const char* name;
  int updateCount;
  bool user;
  bool checks;
  int countAfter;
};

class UpdateCountTest : public VersionCheckerTest,
                        public ::testing::WithParamInterface<CountCase> {};

TEST_P(UpdateCountTest, EveryThirtyFirstAutomaticRequestChecksAndTheUsersAlways) {
  const CountCase& c = GetParam();
  kv->Settings.setUpdateCount(c.updateCount);
  if (c.user) {
    kv->versionCheck().Check4NewVer1Click();
  } else {
    kv->versionCheck().Check4NewVersion();
  }
  EXPECT_EQ(fetch.Urls.size(), c.checks ? 1u : 0u);
  EXPECT_EQ(kv->Settings.UpdateCount(), c.countAfter);
  EXPECT_EQ(busy(), c.checks);
  if (c.checks) {
    EXPECT_EQ(status(), "Status: Checking for update...");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, UpdateCountTest,
    ::testing::Values(CountCase{"AutomaticAt30OnlyCounts", 30, false, false, 31},
                      CountCase{"AutomaticAt31Checks", 31, false, true, 1},
                      CountCase{"AutomaticFirstCounts", 0, false, false, 1},
                      CountCase{"UserAt5Checks", 5, true, true, 1}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return info.param.name; });

TEST_F(VersionCheckerTest, OfflineUsersCheckOnlySaysSo) {
  kv->State.OnlineState = app::kOffline;
  kv->Settings.setUpdateCount(5);
  kv->versionCheck().Check4NewVer1Click();
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "Not online; go online to check update status");
  EXPECT_TRUE(fetch.Urls.empty());
  EXPECT_EQ(kv->Settings.UpdateCount(), 5);
}

TEST_F(VersionCheckerTest, UsersCheckWhileAnotherOperationRunsIsRefused) {
  kv->State.CheckInProgress = true;
  kv->versionCheck().Check4NewVer1Click();
  EXPECT_TRUE(fetch.Urls.empty());
  EXPECT_EQ(checker->Check4NewVer1Tag(), 0);
}

struct NoUpdateCase {
  const char* name;
  bool user;
  bool visible;
  bool box;
};

class NoUpdateTest : public VersionCheckerTest,
                     public ::testing::WithParamInterface<NoUpdateCase> {};

TEST_P(NoUpdateTest, BoxOnlyForTheUsersCheckInAVisibleWindowStatusAlways) {
  const NoUpdateCase& c = GetParam();
  kv->Settings.setUpdateCount(31);
  kv->State.MainWindowVisible = c.visible;
  if (c.user) {
    kv->versionCheck().Check4NewVer1Click();
  } else {
    kv->versionCheck().Check4NewVersion();
  }
  ASSERT_EQ(fetch.Urls.size(), 1u);
  fetch.Serve("version=1.4\nhomepage=https://k.example\n");
  ASSERT_EQ(prompter.Boxes().size(), c.box ? 1u : 0u);
  if (c.box) {
    EXPECT_EQ(prompter.Boxes()[0].Text, "No update available");
  }
  EXPECT_EQ(status(), "Status: No update available.");
  EXPECT_EQ(kv->dfsStatus.Panel(2), "Version 1.4.0 is the newest");
  EXPECT_TRUE(idle());
  EXPECT_EQ(checker->Check4NewVer1Tag(), 0);
}

INSTANTIATE_TEST_SUITE_P(Checks, NoUpdateTest,
                         ::testing::Values(NoUpdateCase{"UserVisible", true, true, true},
                                           NoUpdateCase{"UserHidden", true, false, false},
                                           NoUpdateCase{"AutomaticVisible", false, true, false}),
                         [](const ::testing::TestParamInfo<NoUpdateCase>& info) {
                           return info.param.name;
                         });

struct FailureCase {
  const char* name;
  update::FetchResult result;
  std::string reason;
};

class FetchFailureTest : public VersionCheckerTest,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FetchFailureTest, IsNoUpdateWithTheReasonBesideIt) {
  const FailureCase& c = GetParam();
  kv->versionCheck().Check4NewVer1Click();
  fetch.Complete(c.result);
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "No update available");
  EXPECT_EQ(status(), "Status: No update available.");
  EXPECT_EQ(kv->dfsStatus.Panel(2), c.reason);
  EXPECT_TRUE(idle());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FetchFailureTest,
    ::testing::Values(
        FailureCase{"MissingFile", {false, 404, "", "HTTP 404 Not Found"}, "HTTP 404 Not Found"},
        FailureCase{"StatusOnly", {false, 503, "", ""}, "HTTP 503"},
        FailureCase{"Garbage",
                    {true, 200, "<html>moved</html>", ""},
                    "Unreadable upgrade information: line 1 is not key=value"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(VersionCheckerTest, NewerVersionIsAnnouncedWithItsHomePage) {
  kv->versionCheck().Check4NewVer1Click();
  fetch.Serve("version=1.10\nhomepage=https://k.example/get\n");
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text,
            "Kelvrin 1.10 is available (this is 1.4.0).\rGet it from its home page or your "
            "system's package manager:\rhttps://k.example/get");
  EXPECT_EQ(status(), "Status: Version 1.10 available");
  EXPECT_EQ(kv->dfsStatus.Panel(2), "https://k.example/get");
  EXPECT_TRUE(idle());
}

TEST_F(VersionCheckerTest, DownloadIsAnnouncedAtTheFirstProgressOfTheRunOnly) {
  kv->versionCheck().Check4NewVer1Click();
  fetch.Progress(40);
  EXPECT_EQ(status(), "Status: Downloading Update");
  EXPECT_EQ(kv->dfsStatus.Gauge(), 40);
  fetch.Serve("version=1.0\nhomepage=https://k.example\n");

  kv->versionCheck().Check4NewVer1Click();
  fetch.Progress(70);
  EXPECT_EQ(status(), "Status: Checking for update...");
  EXPECT_EQ(kv->dfsStatus.Gauge(), 70);
  EXPECT_TRUE(checker->DownloadAnnounced());
}

TEST_F(VersionCheckerTest, CancelStopsTheFetchAndALateReplyIsIgnored) {
  kv->versionCheck().Check4NewVer1Click();
  kv->BtCancelClick();
  EXPECT_EQ(fetch.Aborts, 1);
  EXPECT_TRUE(idle());
  fetch.Serve("version=9\nhomepage=https://k.example\n");
  EXPECT_TRUE(prompter.Boxes().empty());
  EXPECT_NE(status(), "Status: Version 9 available");
}

TEST_F(VersionCheckerTest, TenthCheckOfARunEndsItsSessionAndChecksWhenItIsDue) {
  kv->KVmain->setChecked("AutoUpdate1", true);
  kv->Settings.setUpdateCount(31);
  for (int i = 0; i < 9; ++i)
    script.AddSession(CheckSession({ValidMessage(1, "v")}, true));
  // The tenth: logged in, then the version check ends the session.
  script.AddSession(Join({LoginSteps(), StatSteps({ValidMessage(1, "v")}, true), QuitSteps()}));
  for (int i = 0; i < 10; ++i)
    check();
  EXPECT_TRUE(script.Finished());
  EXPECT_FALSE(kv->Pop3Client1.Connected());
  ASSERT_EQ(fetch.Urls, (std::vector<std::string>{kUrl}));
  EXPECT_TRUE(busy()) << "the window waits for the version check";
  EXPECT_EQ(kv->Settings.UpdateCount(), 1);
  fetch.Serve("version=1.4.0\nhomepage=https://k.example\n");
  EXPECT_TRUE(idle());
  EXPECT_TRUE(prompter.Boxes().empty()) << "an automatic check shows no box";
}

TEST_F(VersionCheckerTest, UpdateUrlComesFromTheSettingsElseOurDefault) {
  EXPECT_EQ(update::updateUrlFrom(kv->IniFile), update::kDefaultUpdateUrl);
  kv->IniFile.writeString("Settings", "UpdateURL", "https://mirror.test/u.txt");
  EXPECT_EQ(update::updateUrlFrom(kv->IniFile), "https://mirror.test/u.txt");
}

}  // namespace
}  // namespace kelvrin::test
