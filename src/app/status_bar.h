#pragma once

// The status bar dfsStatus: panel 0 the status text ("Status: " and a text),
// panel 1 the message count, panel 2 the reason or address text, panel 3 a
// progress gauge 0..100. Every change of the status text is mirrored into the
// tray hint as the title text, a blank and the status.

#include <array>
#include <string>
#include <string_view>

#include "notify/change_notifier.h"
#include "notify/tray_icon.h"

namespace kelvrin::app {

class StatusBarModel {
 public:
  StatusBarModel(notify::TrayIconModel& tray, const std::string& titleText)
      : tray_(tray), titleText_(titleText) {}

  const std::string& Status() const { return panels_[0]; }
  // Panel 0, mirrored into the tray hint.
  void setStatus(std::string_view text);

  // Panels 0..2 as text.
  const std::string& Panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
  void setPanel(int index, std::string_view text);

  int Gauge() const { return gauge_; }
  void setGauge(int percent);

  // panel index (3 for the gauge)
  notify::ChangeNotifier<int>& changed() { return changed_; }

 private:
  notify::TrayIconModel& tray_;
  const std::string& titleText_;
  std::array<std::string, 3> panels_;
  int gauge_ = 0;
  notify::ChangeNotifier<int> changed_;
};

// "Status: " followed by the first 50 characters of a message: how every
// failure reaches the user.
std::string failureStatus(std::string_view message);

}  // namespace kelvrin::app
