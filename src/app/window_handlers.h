#pragma once

// The main window's own handlers: its paint, close, hide and keys, the
// option items of its menu, the start-up entry, the general settings, and
// the tray icon's clicks. The window calls these and renders what they
// change; it decides nothing itself.

#include <string>
#include <string_view>

namespace kelvrin::app {

class TKVmain;

inline constexpr const char* kWelcomeCaption = "Welcome to Kelvrin";
inline constexpr const char* kWelcomeText =
    "To check your mail, click [Check] button on menu bar, or Kelvrin tray icon\r"
    "(Kelvrin Tray Icon, is where you normally control the program eg right-click)\r"
    "When you minimize Kelvrin, if \"interval\" set, it will check mail automatically\r"
    "Ensure to disable Outlook or OE timed checks to avoid confilcts\r"
    "I hope you enjoy this program, and please lets know if you want anything more";

class WindowHandlers {
 public:
  explicit WindowHandlers(TKVmain& kv);

  // What the first paint asks of the window.
  enum class PaintAction { None, Maximize, MaximizeAndClose, Close };
  PaintAction FormPaint();
  bool FirstPaintDone() const { return firstPaintDone_; }

  // True when the window may close; false when it went to the tray instead.
  bool FormCloseQuery();
  void FormHide();
  // The end of the desktop session: yes at once, whatever "Close To Tray" says.
  bool SessionMayEnd() { return true; }

  enum class Key { Escape, Delete, F1, F5, F9, Other };
  // True when the key was handled (the window's controls do not see it).
  bool FormKeyDown(Key key, bool serverTabActive);

  // The options of the main menu. OptionClick dispatches an item's click to
  // its handler; false for a name that is no option item.
  bool OptionClick(std::string_view name);
  void MenuItemClick(std::string_view name);
  void DelAll1Click(std::string_view name);
  void MenuSelClick();
  void Hints1Click();
  void WinStart1Click();
  void StartUpClick();
  // The tool bar and the menu bar follow MenuSel.
  void applyMenuSel();

  int GeneralSettings();
  void General1Click() { GeneralSettings(); }
  void HelpBtn1Click();

  // The tray icon.
  void ShowHide1Click();
  void ActionTrayClick(bool shift, bool ctrl);
  void TrayIcon1MouseDown();
  void TrayIcon1MouseUp();
  void TrayIcon1MouseMove();
  void ShowWindowFromTray();

  // The one scheduler step the window has until timed checks land: a
  // requested check starts once the session is free.
  void Timer2Timer();

  // The option items that MenuItemClick serves.
  static bool isPlainOption(std::string_view name);

 private:
  TKVmain& kv_;
  bool firstPaintDone_ = false;
};

}  // namespace kelvrin::app
