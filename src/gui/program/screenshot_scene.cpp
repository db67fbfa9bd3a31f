#include "gui/program/screenshot_scene.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <iostream>

#include "app/body_display.h"
#include "app/command_model.h"
#include "app/kvmain.h"
#include "gui/window/main_window.h"

namespace kelvrin::gui {

namespace {

void openScene(const QByteArray& scene, app::TKVmain& kv, QMenu& trayMenu) {
  auto& view = kv.VTree1;
  if (scene == "body") {
    view.selectOnly(0);
    kv.Body().DisplayBody();
  } else if (scene == "box") {
    // The system's own box: a spam delete with nothing marked.
    for (std::size_t i = 0; i < view.rows().size(); ++i)
      view.setChecked(i, false);
    kv.btDeleteClick(app::kTagSpamDelete);
  } else if (scene == "traymenu") {
    // Where the tray would open it: above the bottom edge, at the right.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size = trayMenu.sizeHint();
    const QPoint at(screen.right() - size.width() - 8, screen.bottom() - size.height() - 40);
    trayMenu.popup(at);
    // A menu is no window a script can find by its program: say where it is.
    std::cerr << "screenshot scene: " << size.width() << 'x' << size.height() << '+' << at.x()
              << '+' << at.y() << std::endl;
  }
}

}  // namespace

void armScreenshotScene(app::TKVmain& kv, MainWindow& window, QMenu& trayMenu) {
  const QByteArray scene = qgetenv("KELVRIN_SCREENSHOT_SCENE");
  if (scene.isEmpty()) return;
  auto* poll = new QTimer(&window);
  poll->setInterval(200);
  QObject::connect(poll, &QTimer::timeout, &window, [poll, scene, &kv, &window, &trayMenu] {
    if (kv.State.CheckInProgress || kv.VTree1.rows().empty()) return;
    poll->stop();
    poll->deleteLater();
    // After the rows are painted.
    QTimer::singleShot(500, &window,
                       [scene, &kv, &window, &trayMenu] { openScene(scene, kv, trayMenu); });
  });
  poll->start();
}

}  // namespace kelvrin::gui
