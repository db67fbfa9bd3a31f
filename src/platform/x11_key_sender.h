#pragma once

// The hot-key on an X11 session: the mail program's window is found through
// the window manager's client list (EWMH), raised with _NET_ACTIVE_WINDOW,
// and the keys are played with XTest through the current keyboard layout.
// The X headers stay in the source: their macros clash with Qt's names.

#include <functional>
#include <optional>
#include <set>
#include <string>

#include "settings/sendkeys.h"

namespace kelvrin::platform {

class X11KeySender : public settings::KeySender {
 public:
  // afterEachKey lets pending events run between the keys of a string.
  explicit X11KeySender(std::function<void()> afterEachKey = {});
  ~X11KeySender() override;
  X11KeySender(const X11KeySender&) = delete;
  X11KeySender& operator=(const X11KeySender&) = delete;

  std::optional<std::string> unavailableReason() override;
  WindowHandle GetHandleFromWindowTitle(std::string_view title) override;
  void MakeWindowActive(WindowHandle window) override;
  void SendKeys(std::string_view codes) override;

 private:
  bool open();
  void fakeKey(unsigned keycode, bool down);
  void tap(unsigned keycode, bool withShift);

  void* display_ = nullptr;  // Display*
  bool triedOpen_ = false;
  std::function<void()> afterEachKey_;
  // The modifier keys our own strings hold down (a press sequence leaves Ctrl
  // down for the release sequence): they are not the user's.
  std::set<unsigned> ownDown_;
};

// The text shown when keys cannot be sent in this session.
extern const char* const kNeedsX11Text;

// The name of the desktop's default mail program: the Name of the desktop
// file that `xdg-mime query default x-scheme-handler/mailto` gives, searched
// in the applications folders of XDG_DATA_HOME and XDG_DATA_DIRS.
std::optional<std::string> defaultMailProgramName();

}  // namespace kelvrin::platform
