#pragma once

// "Check For Updates" and the automatic version check, as the main window
// runs them: when a check runs (the user's command always, the check cycle's
// request every 31st time, counted in UpdateCount), what the status bar
// shows meanwhile, and what the user is told.
//
// The check fetches the upgrade information file over HTTPS, reads the
// newest version and its home page from it and compares that version with
// the program's own, by number. It never downloads or replaces program
// files: a newer version is announced with the home page it comes from, and
// the system's package manager installs it.
//
// The checker also carries the website monitor, whose host test belongs to
// the same component.

#include <memory>
#include <string>
#include <string_view>

#include "app/later_parts.h"
#include "settings/ini_file.h"

#include "update/update_info.h"
#include "update/update_ports.h"
#include "update/website_monitor.h"

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::update {

// Where the upgrade information file is looked for unless the settings name
// another address (section "Settings", key "UpdateURL").
inline constexpr std::string_view kDefaultUpdateUrl =
    "https://kelvrin.example/update/kelvrin-update.txt";
std::string updateUrlFrom(const settings::IniFile& file);

// The program's own version ("0.1.0").
std::string ownVersion();

class VersionChecker final : public app::VersionCheck {
 public:
  // kv, fetch and probe must outlive the checker.
  VersionChecker(app::TKVmain& kv, HttpsFetch& fetch, HostProbe& probe, std::string infoUrl,
                 std::string version);
  ~VersionChecker() override;

  void Check4NewVer1Click() override;
  // The check cycle's request.
  void Check4NewVersion() override { Check4NewVersion(false); }
  // userItem: asked for by "Check For Updates".
  void Check4NewVersion(bool userItem);
  void ClearRunningMarks() override { check4NewVer1Tag_ = 0; }
  void StopDownload() override;
  void WebListBox1Exit() override { websites_.WebListBox1Exit(); }
  void MonitorWebsites() override { websites_.Run(); }

  // The upgrader's two events.
  void AutoUpgrader1NoUpdateAvailable(std::string_view reason);
  void AutoUpgrader1Progress(int TotalPercentsDone);

  // 1 while a check the user started runs.
  int Check4NewVer1Tag() const { return check4NewVer1Tag_; }
  bool DownloadAnnounced() const { return downloadAnnounced_; }
  bool FetchRunning() const { return fetchRunning_; }
  const std::string& InfoUrl() const { return infoUrl_; }
  WebsiteMonitor& Websites() { return websites_; }

 private:
  void fetched(FetchResult result);

  app::TKVmain& kv_;
  HttpsFetch& fetch_;
  std::string infoUrl_;
  std::string version_;
  WebsiteMonitor websites_;
  int check4NewVer1Tag_ = 0;
  bool downloadAnnounced_ = false;
  bool fetchRunning_ = false;
  // Tells a late callback of an aborted or replaced fetch from the current.
  std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

}  // namespace kelvrin::update
