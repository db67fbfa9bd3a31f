#include "gui/program/tray_hook.h"

namespace kelvrin::gui {

// No tray of its own yet: the window is the program.
std::unique_ptr<QObject> makeTray(app::TKVmain&, QMenu*, QObject*) {
  return nullptr;
}

}  // namespace kelvrin::gui
