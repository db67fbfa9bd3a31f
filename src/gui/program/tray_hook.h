#pragma once

// Where the program gets its tray icon. The tray object renders the core's
// TrayIconModel, shows popup2 as its menu and feeds its clicks into the core;
// the program keeps it for the whole run. A null result means no tray: the
// program then stays a window that minimises to the task bar.

#include <QMenu>
#include <QObject>
#include <memory>

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::platform {
class DBusNotifications;
}

namespace kelvrin::gui {

class TrayIconView;

// The origin of a deletion that the tray menu's "Delete spam" starts.
inline constexpr int kDeleteSpamOrigin = 2;

// Balloons go out as the desktop's notifications, whose clicks and actions
// reach the core; the view falls back to its own message without a service.
void wireNotifications(app::TKVmain& kv, TrayIconView& view,
                       platform::DBusNotifications& notifications);

std::unique_ptr<QObject> makeTray(app::TKVmain& kv, QMenu* popup2, QObject* parent);
// Whether the tray made by makeTray is shown in a tray of the desktop.
bool trayShown(const QObject* tray);

}  // namespace kelvrin::gui
