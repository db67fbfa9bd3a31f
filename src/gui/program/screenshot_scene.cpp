#include "gui/program/screenshot_scene.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <iostream>

#include "app/body_display.h"
#include "app/command_model.h"
#include "app/kvmain.h"
#include "app/session_guard.h"
#include "gui/window/main_window.h"

namespace kelvrin::gui {

namespace {

// Time for the window manager to map and frame a new window and for it to
// be painted before it is captured.
constexpr int kSettleMs = 800;

// The widget as it stands on the screen, with the frame the window manager
// gave it; the widget's own rendering when the screen cannot be read.
QPixmap capture(QWidget& widget) {
  if (QScreen* screen = widget.screen()) {
    const QRect frame = widget.frameGeometry();
    QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!shot.isNull()) return shot;
  }
  return widget.grab();
}

// Saves the capture where the script asked for it and says so; the script
// waits for that line rather than searching the screen for a popup.
void save(QWidget& widget) {
  const QString file = qEnvironmentVariable("KELVRIN_SCREENSHOT_FILE");
  if (file.isEmpty()) return;
  if (capture(widget).save(file, "PNG")) {
    std::cerr << "screenshot scene: saved " << file.toStdString() << std::endl;
  } else {
    std::cerr << "screenshot scene: cannot write " << file.toStdString() << std::endl;
  }
}

void openScene(const QByteArray& scene, app::TKVmain& kv, QMenu& trayMenu) {
  auto& view = kv.VTree1;
  if (scene == "body") {
    view.selectOnly(0);
    kv.Body().DisplayBody();
  } else if (scene == "box") {
    // The system's own box: a spam delete with nothing marked. The box is
    // modal, so it is captured and closed from inside its own event loop.
    QTimer::singleShot(kSettleMs, qApp, [] {
      QPointer<QWidget> box = QApplication::activeModalWidget();
      if (!box) {
        std::cerr << "screenshot scene: no box" << std::endl;
        return;
      }
      save(*box);
      if (auto* dialog = qobject_cast<QDialog*>(box.data())) dialog->reject();
    });
    for (std::size_t i = 0; i < view.rows().size(); ++i)
      view.setChecked(i, false);
    kv.btDeleteClick(app::kTagSpamDelete);
  } else if (scene == "traymenu") {
    // Where the tray would open it: above the bottom edge, at the right.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size = trayMenu.sizeHint();
    const QPoint at(screen.right() - size.width() - 8, screen.bottom() - size.height() - 40);
    trayMenu.popup(at);
    QPointer<QMenu> menu(&trayMenu);
    QTimer::singleShot(kSettleMs, qApp, [menu] {
      if (!menu || !menu->isVisible()) {
        std::cerr << "screenshot scene: the menu closed" << std::endl;
        return;
      }
      save(*menu);
      menu->close();
    });
  }
}

}  // namespace

void armScreenshotScene(app::TKVmain& kv, MainWindow& window, QMenu& trayMenu) {
  const QByteArray scene = qgetenv("KELVRIN_SCREENSHOT_SCENE");
  if (scene.isEmpty()) return;
  auto* poll = new QTimer(&window);
  poll->setInterval(200);
  QObject::connect(poll, &QTimer::timeout, &window, [poll, scene, &kv, &window, &trayMenu] {
    // The check is over only when it has let the session go, after its
    // notification: a scene opened earlier would be refused.
    if (kv.State.CheckInProgress || app::sessionOwned(kv.State) || kv.VTree1.rows().empty()) {
      return;
    }
    poll->stop();
    poll->deleteLater();
    // After the rows are painted.
    QTimer::singleShot(500, &window, [scene, &kv, &trayMenu] { openScene(scene, kv, trayMenu); });
  });
  poll->start();
}

}  // namespace kelvrin::gui
