#include "gui/tray/tray_icon_view.h"

#include <QGuiApplication>
#include <QMenu>
#include <QStringList>
#include <algorithm>

#include "mail/display_text.h"

namespace kelvrin::gui {

namespace {

// A tray may come (a panel started after us) or go (a panel restarted) at
// any time; looking once a second is cheap, since the platform keeps the
// answer and only its change costs anything.
constexpr int kTrayProbeMs = 1000;
// Intervals below this would only load the desktop's tray.
constexpr int kShortestCycleMs = 20;

QSystemTrayIcon::MessageIcon messageIcon(notify::BalloonIcon kind) {
  switch (kind) {
    case notify::BalloonIcon::Info:
      return QSystemTrayIcon::Information;
    case notify::BalloonIcon::Warning:
      return QSystemTrayIcon::Warning;
    case notify::BalloonIcon::Error:
      return QSystemTrayIcon::Critical;
    case notify::BalloonIcon::None:
      break;
  }
  return QSystemTrayIcon::NoIcon;
}

void heldKeys(bool& shift, bool& ctrl) {
  const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
  shift = mods.testFlag(Qt::ShiftModifier);
  ctrl = mods.testFlag(Qt::ControlModifier);
}

}  // namespace

QString TrayIconView::displayText(std::string_view bytes) {
  QStringList lines;
  std::size_t start = 0;
  while (start <= bytes.size()) {
    const std::size_t end = bytes.find_first_of("\r\n", start);
    const std::string_view line =
        bytes.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    lines << QString::fromStdString(mail::HeaderDisplayText(line));
    if (end == std::string_view::npos) break;
    start =
        end + ((bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? 2 : 1);
  }
  return lines.join(QLatin1Char('\n'));
}

TrayIconView::TrayIconView(notify::TrayIconModel& model, QMenu* popup2, QObject* parent)
    : QObject(parent), model_(model), tray_(std::make_unique<QSystemTrayIcon>()) {
  if (popup2) tray_->setContextMenu(popup2);
  connect(tray_.get(), &QSystemTrayIcon::activated, this, &TrayIconView::activated);
  connect(tray_.get(), &QSystemTrayIcon::messageClicked, this, [this] {
    if (!onBalloonClick) return;
    bool shift = false;
    bool ctrl = false;
    heldKeys(shift, ctrl);
    onBalloonClick(shift, ctrl);
  });

  connect(&cycleTimer_, &QTimer::timeout, this, &TrayIconView::cycleTick);
  probe_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  trayProbeTimer_.setInterval(kTrayProbeMs);
  connect(&trayProbeTimer_, &QTimer::timeout, this, [this] { recheckTray(); });
  trayProbeTimer_.start();

  // A balloon shown before the view existed is history, not news.
  balloonsShown_ = model_.BalloonShowCount();
  observer_ = model_.changed().add([this] { render(); });
  trayAvailable_ = probe_();
  render();
}

TrayIconView::~TrayIconView() {
  model_.changed().remove(observer_);
  tray_->hide();
}

void TrayIconView::setTrayProbe(std::function<bool()> probe) {
  probe_ = std::move(probe);
  recheckTray();
}

bool TrayIconView::recheckTray() {
  const bool now = probe_ && probe_();
  if (now != trayAvailable_) {
    trayAvailable_ = now;
    updateVisibility();
    emit trayAvailableChanged(now);
  }
  return trayAvailable_;
}

void TrayIconView::cycleTick() {
  model_.advanceCycle();
}

void TrayIconView::render() {
  const int list = model_.IconList();
  const int index = model_.IconIndex();
  const bool listChanged = list != shownList_;
  if (listChanged || index != shownIndex_) {
    tray_->setIcon(pictures_.icon(list, index));
    shownList_ = list;
    shownIndex_ = index;
  }

  // Restart the timer only when the cycle itself changed: a new hint every
  // few milliseconds during a check must not hold the pictures still.
  const bool cycle = model_.CycleIcons();
  const int interval = std::max(model_.CycleInterval(), kShortestCycleMs);
  if (cycle) {
    if (!shownCycle_ || interval != shownInterval_ || listChanged || !cycleTimer_.isActive()) {
      cycleTimer_.start(interval);
    }
  } else {
    cycleTimer_.stop();
  }
  shownCycle_ = cycle;
  shownInterval_ = interval;

  if (!hintShown_ || model_.Hint() != shownHint_) {
    shownHint_ = model_.Hint();
    hintShown_ = true;
    tray_->setToolTip(displayText(shownHint_));
  }

  updateVisibility();
  renderBalloon();
}

void TrayIconView::updateVisibility() {
  const bool want = model_.IconVisible() && trayAvailable_;
  if (tray_->isVisible() != want) tray_->setVisible(want);
}

void TrayIconView::renderBalloon() {
  if (model_.BalloonShowCount() == balloonsShown_) return;
  balloonsShown_ = model_.BalloonShowCount();
  const auto& balloon = model_.LastBalloon();
  if (!model_.BalloonVisible() || !balloon) return;
  const QString title = displayText(balloon->Title);
  const QString text = displayText(balloon->Text);
  if (showNotification && showNotification(title, text, balloon->IconKind, balloon->TimeoutSecs)) {
    return;
  }
  if (tray_->isVisible()) {
    tray_->showMessage(title, text, messageIcon(balloon->IconKind),
                       std::max(balloon->TimeoutSecs, 1) * 1000);
  }
}

void TrayIconView::activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      if (onClick) {
        bool shift = false;
        bool ctrl = false;
        heldKeys(shift, ctrl);
        onClick(shift, ctrl);
      }
      break;
    case QSystemTrayIcon::DoubleClick:
      if (onDoubleClick) onDoubleClick();
      break;
    case QSystemTrayIcon::MiddleClick:
      if (onMiddleClick) onMiddleClick();
      break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Unknown:
      break;  // the menu is the tray's own business
  }
}

}  // namespace kelvrin::gui
