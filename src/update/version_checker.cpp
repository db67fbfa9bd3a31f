#include "update/version_checker.h"

#include "app/kvmain.h"
#include "app/session_guard.h"
#include "settings/ini_document.h"

#ifndef KELVRIN_VERSION
#define KELVRIN_VERSION "0.0.0"
#endif

namespace kelvrin::update {

namespace {

constexpr std::string_view kSettingsSection = "Settings";
// Every 31st automatic request is a real check.
constexpr int kAutomaticRequestsPerCheck = 30;

std::string httpReason(const FetchResult& r) {
  if (!r.Error.empty()) return r.Error;
  if (r.HttpStatus != 0 && r.HttpStatus != 200) return "HTTP " + std::to_string(r.HttpStatus);
  return "no reply";
}

}  // namespace

std::string updateUrlFrom(const settings::IniFile& file) {
  std::string url = file.readString(kSettingsSection, "UpdateURL", "");
  return url.empty() ? std::string(kDefaultUpdateUrl) : url;
}

std::string ownVersion() {
  return KELVRIN_VERSION;
}

VersionChecker::VersionChecker(app::TKVmain& kv, HttpsFetch& fetch, HostProbe& probe,
                               std::string infoUrl, std::string version)
    : kv_(kv),
      fetch_(fetch),
      infoUrl_(std::move(infoUrl)),
      version_(std::move(version)),
      websites_(*kv.WebListBox1, *kv.KVmain, kv.Prompter, probe) {}

VersionChecker::~VersionChecker() {
  if (fetchRunning_) fetch_.abort();
}

void VersionChecker::Check4NewVer1Click() {
  if (kv_.State.OnlineState != app::kOnline) {
    kv_.Prompter.InfoBox("Not online; go online to check update status");
    return;
  }
  // Another operation holds the window and maybe the session: quitting that
  // session now would break the operation in the middle.
  if (kv_.State.CheckInProgress || app::sessionOwned(kv_.State)) return;
  check4NewVer1Tag_ = 1;
  Check4NewVersion(true);
}

void VersionChecker::Check4NewVersion(bool userItem) {
  int counter = kv_.Settings.UpdateCount();
  auto& client = kv_.Pop3Client1;
  if (client.Connected()) {
    try {
      client.Quit();
    } catch (const std::exception&) {
      client.Socket().Close();
    }
    // The session's end returned the window to idle, which cleared the mark
    // of the user's check; the check is still the user's.
    if (userItem) check4NewVer1Tag_ = 1;
  }
  if (counter > kAutomaticRequestsPerCheck || userItem) {
    kv_.State.CheckInProgress = true;
    kv_.dfsStatus.setStatus("Status: Checking for update...");
    kv_.dfsStatus.setPanel(2, "");
    const auto generation = generation_;
    const int current = ++*generation_;
    // Before the start: a fetch that fails at once ends the check inside it.
    kv_.Commands.setEnabled({"BtCancel", "ToolButton8"}, true);
    fetchRunning_ = true;
    fetch_.start(
        infoUrl_,
        [this, generation, current](int percent) {
          if (*generation == current && fetchRunning_) AutoUpgrader1Progress(percent);
        },
        [this, generation, current](FetchResult result) {
          if (*generation != current || !fetchRunning_) return;
          fetchRunning_ = false;
          fetched(std::move(result));
        });
    kv_.Settings.setUpdateCount(0);
    counter = 0;
  }
  kv_.dfsStatus.setGauge(0);
  kv_.Settings.setUpdateCount(counter + 1);
}

void VersionChecker::StopDownload() {
  if (!fetchRunning_) return;
  fetchRunning_ = false;
  ++*generation_;
  fetch_.abort();
}

void VersionChecker::fetched(FetchResult result) {
  if (!result.Ok) {
    AutoUpgrader1NoUpdateAvailable(httpReason(result));
    return;
  }
  UpdateInfo info;
  try {
    info = parseUpdateInfo(result.Body);
  } catch (const UpdateInfoError& e) {
    AutoUpgrader1NoUpdateAvailable(std::string("Unreadable upgrade information: ") + e.what());
    return;
  }
  if (compareVersions(info.Version, version_) <= 0) {
    AutoUpgrader1NoUpdateAvailable("Version " + version_ + " is the newest");
    return;
  }
  kv_.dfsStatus.setStatus("Status: Version " + info.Version + " available");
  kv_.dfsStatus.setPanel(2, info.HomePage);
  kv_.Prompter.MsgBox("Kelvrin " + info.Version + " is available (this is " + version_ +
                          ").\rGet it from its home page or your system's package manager:\r" +
                          info.HomePage,
                      "Kelvrin", false, ui::kMbOk | ui::kMbIconInformation);
  kv_.ResetStatus();
}

void VersionChecker::AutoUpgrader1NoUpdateAvailable(std::string_view reason) {
  if (check4NewVer1Tag_ == 1 && kv_.mainWindowVisible()) {
    kv_.Prompter.InfoBox("No update available");
  }
  kv_.dfsStatus.setStatus("Status: No update available.");
  kv_.dfsStatus.setPanel(2, reason);
  kv_.ResetStatus();
}

void VersionChecker::AutoUpgrader1Progress(int TotalPercentsDone) {
  if (!downloadAnnounced_) {
    downloadAnnounced_ = true;
    kv_.Commands.setEnabled({"BtCancel", "ToolButton8"}, true);
    kv_.dfsStatus.setStatus("Status: Downloading Update");
  }
  kv_.dfsStatus.setGauge(TotalPercentsDone);
}

}  // namespace kelvrin::update
