#pragma once

// The tray icon on the desktop: renders the core's TrayIconModel into a
// QSystemTrayIcon (picture, cycling, hint, visibility, balloons) and hands
// the clicks the desktop's tray reports to the program's handlers.
//
// What reaches us depends on the tray protocol. StatusNotifierItem trays give
// "activate" (Trigger), "secondary activate" (MiddleClick) and the context
// menu; XEmbed trays also give DoubleClick. Neither reports a button held
// down, so the press-and-hold check has no tray gesture of its own.
//
// Without a tray the icon cannot be seen: trayAvailable() is false, the
// program keeps its window, and the view looks for a tray once a second and
// shows the icon as soon as one appears. A tray that goes away is announced
// too (trayAvailableChanged(false)), so that a window hidden in it can come
// back instead of leaving the program running unseen.

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

#include "gui/tray/tray_pictures.h"
#include "notify/tray_icon.h"

class QMenu;

namespace kelvrin::gui {

class TrayIconView : public QObject {
  Q_OBJECT

 public:
  // The model must outlive the view; popup2 (the tray menu) may be null.
  TrayIconView(notify::TrayIconModel& model, QMenu* popup2, QObject* parent = nullptr);
  ~TrayIconView() override;

  // The program's handlers. A click passes the Shift and Ctrl keys as the
  // desktop reports them at the time of the click.
  std::function<void(bool shift, bool ctrl)> onClick;
  std::function<void()> onDoubleClick;
  std::function<void()> onMiddleClick;
  std::function<void(bool shift, bool ctrl)> onBalloonClick;
  // Shows a balloon through the desktop's notification service; returns
  // false when that failed, and the tray's own message is shown instead.
  // Title and text arrive as display text.
  std::function<bool(const QString& title, const QString& text, notify::BalloonIcon kind,
                     int timeoutSecs)>
      showNotification;

  bool trayAvailable() const { return trayAvailable_; }
  // Looks for a tray now (the view also does so on its own while none is
  // found). Returns trayAvailable().
  bool recheckTray();
  // How the view learns whether a tray exists; QSystemTrayIcon's answer
  // unless replaced (tests).
  void setTrayProbe(std::function<bool()> probe);

  QSystemTrayIcon* trayIcon() const { return tray_.get(); }
  const TrayPictures& pictures() const { return pictures_; }
  // The picture shown: its state (image list) and index.
  int shownList() const { return shownList_; }
  int shownIndex() const { return shownIndex_; }
  // Whether the picture cycles, and at which interval.
  bool cycling() const { return cycleTimer_.isActive(); }
  int cycleInterval() const { return cycleTimer_.interval(); }
  // One cycle step, as the cycle timer takes it.
  void cycleTick();

  // The hint and a balloon text as a person reads them: line breaks at CR,
  // LF or CR LF, each line the display text of its bytes.
  static QString displayText(std::string_view bytes);

 signals:
  void trayAvailableChanged(bool available);

 private:
  void render();
  void renderBalloon();
  void activated(QSystemTrayIcon::ActivationReason reason);
  void updateVisibility();

  notify::TrayIconModel& model_;
  std::size_t observer_ = 0;
  TrayPictures pictures_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  QTimer cycleTimer_;
  QTimer trayProbeTimer_;
  std::function<bool()> probe_;
  bool trayAvailable_ = false;

  int shownList_ = -1;
  int shownIndex_ = -1;
  bool shownCycle_ = false;
  int shownInterval_ = -1;
  std::string shownHint_;
  bool hintShown_ = false;
  int balloonsShown_ = 0;
};

}  // namespace kelvrin::gui
