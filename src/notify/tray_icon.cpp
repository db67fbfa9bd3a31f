#include "notify/tray_icon.h"

#include <algorithm>

namespace kelvrin::notify {

namespace {

std::string cut(std::string_view text, std::size_t max) {
  return std::string(text.substr(0, std::min(text.size(), max)));
}

}  // namespace

int TrayIconModel::lastPicture() const {
  if (iconList_ < 0 || iconList_ >= static_cast<int>(kImageLists.size())) return 0;
  return kImageLists[static_cast<std::size_t>(iconList_)].Pictures - 1;
}

void TrayIconModel::setIconList(int list) {
  iconList_ = list;
  iconIndex_ = 0;
  changed_.notify();
}

void TrayIconModel::setIconIndex(int index) {
  iconIndex_ = std::clamp(index, 0, lastPicture());
  changed_.notify();
}

void TrayIconModel::setCycleIcons(bool on) {
  if (on) iconIndex_ = 0;
  cycleIcons_ = on;
  changed_.notify();
}

void TrayIconModel::setCycleInterval(int ms) {
  cycleInterval_ = ms;
  changed_.notify();
}

void TrayIconModel::setHint(std::string_view hint) {
  hint_ = cut(hint, kMaxHintLength);
  changed_.notify();
}

void TrayIconModel::setIconVisible(bool visible) {
  iconVisible_ = visible;
  changed_.notify();
}

void TrayIconModel::ShowBalloon(std::string_view title, std::string_view text, BalloonIcon kind,
                                int timeoutSecs, bool repeat) {
  balloonVisible_ = false;
  if (repeat) {
    if (!lastBalloon_) {
      changed_.notify();
      return;
    }
  } else {
    lastBalloon_ =
        BalloonHint{cut(title, kMaxBalloonTitle), cut(text, kMaxBalloonText), kind, timeoutSecs};
  }
  balloonVisible_ = true;
  ++balloonShowCount_;
  changed_.notify();
}

void TrayIconModel::HideBalloon() {
  balloonVisible_ = false;
  changed_.notify();
}

void TrayIconModel::advanceCycle() {
  if (!cycleIcons_) return;
  iconIndex_ = iconIndex_ >= lastPicture() ? 0 : iconIndex_ + 1;
  changed_.notify();
}

void TrayIconDisplay(TrayIconModel& tray, std::uint16_t State, std::uint16_t Picture) {
  tray.setCycleInterval(kDesignCycleInterval);
  tray.setCycleIcons(true);
  switch (State) {
    case 0:
      tray.setIconList(0);
      tray.setCycleIcons(false);
      if (Picture <= 2) tray.setIconIndex(Picture);
      break;
    case 1:
      tray.setIconList(1);
      tray.setCycleInterval(150);
      break;
    case 2:
    case 3:
    case 4:
    case 5:
      tray.setIconList(State);
      break;
    case 6:
      tray.setIconList(6);
      tray.setCycleInterval(150);
      break;
    case 7:
      tray.setIconList(7);
      tray.setCycleIcons(false);
      if (Picture >= 1 && Picture <= 8) tray.setIconIndex(Picture - 1);
      break;
    case 8:
      tray.setIconList(8);
      tray.setCycleInterval(250);
      break;
    default:
      break;
  }
}

}  // namespace kelvrin::notify
