#include "gui/program/tray_hook.h"

#include "app/kvmain.h"
#include "app/window_handlers.h"
#include "gui/tray/tray_icon_view.h"

namespace kelvrin::gui {

std::unique_ptr<QObject> makeTray(app::TKVmain& kv, QMenu* popup2, QObject* parent) {
  auto view = std::make_unique<TrayIconView>(kv.TrayIcon1, popup2, parent);
  view->onClick = [&kv](bool shift, bool ctrl) { kv.Window().ActionTrayClick(shift, ctrl); };
  // Trays of the StatusNotifierItem kind have no double click: their
  // secondary activation (the middle button) shows or hides the window too.
  view->onDoubleClick = [&kv] { kv.Window().ShowHide1Click(); };
  view->onMiddleClick = [&kv] { kv.Window().ShowHide1Click(); };
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
