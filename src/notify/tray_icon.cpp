#include "notify/tray_icon.h"

#include <algorithm>

namespace kelvrin::notify {

namespace {

// The sender lines carry display text: a cut never leaves half a UTF-8
// character behind, which the desktop would show as a broken glyph.
std::string cut(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return std::string(text.substr(0, end));
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

void TrayIconModel::display(int list, int index, bool cycle, int interval) {
  iconList_ = list;
  iconIndex_ = std::clamp(index, 0, lastPicture());
  cycleIcons_ = cycle;
  cycleInterval_ = interval;
  changed_.notify();
}

void TrayIconDisplay(TrayIconModel& tray, std::uint16_t State, std::uint16_t Picture) {
  // Every state starts a cycle from the first picture at the design interval;
  // the still states then pick their picture.
  int list = tray.IconList();
  int index = 0;
  bool cycle = true;
  int interval = kDesignCycleInterval;
  switch (State) {
    case kTrayIdle:
      list = kTrayIdle;
      cycle = false;
      if (Picture <= kIdleTimedChecksOff) index = Picture;
      break;
    case kTrayChecking:
    case kTrayDialling:
      list = State;
      interval = 150;
      break;
    case kTrayNewMail:
    case kTraySuspect:
    case kTraySuspectAndSpam:
    case kTraySpamOnly:
      list = State;
      break;
    case kTrayCountdown:
      list = kTrayCountdown;
      cycle = false;
      if (Picture >= 1 && Picture <= 8) index = Picture - 1;
      break;
    case kTrayDeleting:
      list = kTrayDeleting;
      interval = 250;
      break;
    default:
      break;
  }
  tray.display(list, index, cycle, interval);
}

}  // namespace kelvrin::notify
