#pragma once

// What only a window can do, for the core: show, minimise, close and
// repaint the main window, open the help, the tray menu and the body window.

#include <QPointer>

#include "app/later_parts.h"
#include "gui/window/main_window.h"

namespace kelvrin::gui {

class QtWindowPort final : public app::WindowPort {
 public:
  explicit QtWindowPort(MainWindow* window) : window_(window) {}

  void ShowWindowFromTray() override;
  void ShowServerTab() override;
  void ShowHelp(const std::string& topic) override;
  void MinimizeApplication() override;
  void CloseMainWindow() override;
  void Repaint() override;
  void PopupTrayMenu() override;
  void PostClickAtClientOrigin() override;
  int ShowBody(const std::string& caption, const std::string& text) override;

 private:
  QPointer<MainWindow> window_;
};

}  // namespace kelvrin::gui
