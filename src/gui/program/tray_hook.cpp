#include "gui/program/tray_hook.h"

#include "app/kvmain.h"
#include "app/window_handlers.h"
#include "gui/tray/tray_icon_view.h"
#include "platform/dbus_notifications.h"

namespace kelvrin::gui {

void wireNotifications(app::TKVmain& kv, TrayIconView& view,
                       platform::DBusNotifications& notifications) {
  // A notification's click carries no keys: they are read as held now.
  notifications.onDefault = [&kv] {
    kv.TrayIcon1BalloonHintClick(kv.desktop().ShiftHeld(), kv.desktop().CtrlHeld());
  };
  notifications.onOpen = [&kv] {
    if (kv.mainWindowVisible()) {
      kv.windowPort().ShowWindowFromTray();
    } else {
      kv.Window().ShowHide1Click();
    }
  };
  // Exactly what the tray menu's "Delete spam" does.
  notifications.onDeleteSpam = [&kv] {
    if (kv.Commands.Enabled("DeleteSpam1")) kv.btDeleteClick(kDeleteSpamOrigin);
  };
  notifications.spamMarked = [&kv] {
    return kv.State.SpamCount > 0 && kv.Commands.Enabled("DeleteSpam1");
  };
  view.showNotification = [&notifications](const QString& title, const QString& text,
                                           notify::BalloonIcon kind, int timeoutSecs) {
    return notifications.show(title, text, kind, timeoutSecs);
  };
}

std::unique_ptr<QObject> makeTray(app::TKVmain& kv, QMenu* popup2, QObject* parent) {
  auto view = std::make_unique<TrayIconView>(kv.TrayIcon1, popup2, parent);
  view->onClick = [&kv](bool shift, bool ctrl) { kv.Window().ActionTrayClick(shift, ctrl); };
  // Trays of the StatusNotifierItem kind have no double click: their
  // secondary activation (the middle button) shows or hides the window too.
  view->onDoubleClick = [&kv] { kv.Window().ShowHide1Click(); };
  view->onMiddleClick = [&kv] { kv.Window().ShowHide1Click(); };
  view->onBalloonClick = [&kv](bool shift, bool ctrl) {
    kv.TrayIcon1BalloonHintClick(shift, ctrl);
  };
  wireNotifications(kv, *view,
                    *new platform::DBusNotifications(QDBusConnection::sessionBus(), view.get()));
  // A window hidden in a tray that went away must not stay out of reach.
  QObject::connect(view.get(), &TrayIconView::trayAvailableChanged, view.get(),
                   [&kv](bool available) {
                     if (!available && !kv.mainWindowVisible()) kv.Window().ShowHide1Click();
                   });
  return view;
}

bool trayShown(const QObject* tray) {
  const auto* view = qobject_cast<const TrayIconView*>(tray);
  return view != nullptr && view->trayAvailable();
}

}  // namespace kelvrin::gui
