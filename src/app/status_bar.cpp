#include "app/status_bar.h"

#include <algorithm>

namespace kelvrin::app {

void StatusBarModel::setStatus(std::string_view text) {
  panels_[0] = std::string(text);
  tray_.setHint(titleText_ + " " + panels_[0]);
  changed_.notify(0);
}

void StatusBarModel::setPanel(int index, std::string_view text) {
  if (index == 0) {
    setStatus(text);
    return;
  }
  panels_.at(static_cast<std::size_t>(index)) = std::string(text);
  changed_.notify(index);
}

void StatusBarModel::setGauge(int percent) {
  gauge_ = std::clamp(percent, 0, 100);
  changed_.notify(3);
}

std::string failureStatus(std::string_view message) {
  return "Status: " + std::string(message.substr(0, std::min<std::size_t>(message.size(), 50)));
}

}  // namespace kelvrin::app
