#pragma once

// For the documentation's screenshots only: with KELVRIN_SCREENSHOT_SCENE
// set (body, box or traymenu), the program opens that window, box or menu
// once the first check has listed messages, so that a script need not
// reach into the program with synthetic keys. A box and a menu are popups
// that a capture of the screen from outside may miss: with
// KELVRIN_SCREENSHOT_FILE set, the program captures them itself into that
// file and closes them. Without the variables nothing happens.

#include <QObject>

class QMenu;

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::gui {

class MainWindow;

// Arms the scene named by the environment, if any.
void armScreenshotScene(app::TKVmain& kv, MainWindow& window, QMenu& trayMenu);

}  // namespace kelvrin::gui
