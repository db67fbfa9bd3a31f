#include "app/window_handlers.h"

#include <array>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "ui/message_box.h"

namespace kelvrin::app {

namespace {

constexpr std::array<std::string_view, 17> kPlainOptions = {
    "MinCheck1",
    "CloseToTray1",
    "MinOnDel1",
    "SndEnable1",
    "SndVoiceEnable1",
    "AutoSR",
    "Invasive1",
    "TrayBalloonNotify1",
    "showcurrent_IP",
    "ExtraAdds1",
    "RedialAll1",
    "DisableScnsave1",
    "DisableCheckWhenIdle1",
    "EnterDispBody1",
    "EmailBalloon1",
    "AllowCtrlDel",
    "WarnDelNoSpam1",
};

}  // namespace

WindowHandlers::WindowHandlers(TKVmain& kv) : kv_(kv) {}

bool WindowHandlers::isPlainOption(std::string_view name) {
  for (auto option : kPlainOptions) {
    if (option == name) return true;
  }
  return false;
}

WindowHandlers::PaintAction WindowHandlers::FormPaint() {
  const bool first = !firstPaintDone_;
  firstPaintDone_ = true;
  auto& s = kv_.State;
  if (s.StartPhase == kStartFirstRun) {
    s.StartPhase = kStartFirstShowDone;
    ui::ButtonBoxArgs box;
    box.caption = kWelcomeCaption;
    box.text = kWelcomeText;
    box.buttons = std::string(ui::kCaptionOk);
    kv_.Prompter.ButtonBox(box);
  } else if (s.StartPhase == kStartClosing) {
    return first ? PaintAction::MaximizeAndClose : PaintAction::Close;
  }
  return first ? PaintAction::Maximize : PaintAction::None;
}

bool WindowHandlers::FormCloseQuery() {
  if (kv_.KVmain->checked("CloseToTray1") && kv_.State.MainWindowVisible) {
    kv_.State.MainWindowVisible = false;
    kv_.windowPort().MinimizeApplication();
    kv_.Commands.setCaption("ShowHide1", "Show");
    return false;
  }
  kv_.ETimer1.setEnabled(false);
  kv_.ETimer2.setEnabled(false);
  kv_.dialUp().Cancel();
  kv_.Pop3Client1.Abort();
  // The held session is ended by FormDestroy, which knows whether an
  // operation was cut short (and must not be made final by QUIT).
  kv_.UIDLList.clear();
  return true;
}

void WindowHandlers::FormHide() {
  auto& s = kv_.State;
  auto& cmd = kv_.Commands;
  cmd.setCaption("ShowHide1", "Show");
  s.TickCount = 0;
  if (cmd.Enabled("DeleteSpam1") && cmd.Visible("DeleteAll1")) {
    cmd.setEnabled("DeleteAll1", s.OnlineState == kOnline);
  }
}

bool WindowHandlers::FormKeyDown(Key key, bool serverTabActive) {
  switch (key) {
    case Key::Escape:
      kv_.BtCancelClick();
      return true;
    case Key::Delete:
      if (!serverTabActive) return false;
      kv_.btDeleteClick(kTagSpamDelete);
      return true;
    case Key::F1:
      kv_.windowPort().ShowHelp("");
      return true;
    case Key::F5:
      kv_.btOpenClick();
      return true;
    case Key::F9:
      // Send/Receive replays the mail program's hot-key; until that lands
      // the command stays disabled and F9 does nothing.
      return true;
    case Key::Other:
      break;
  }
  return false;
}

bool WindowHandlers::OptionClick(std::string_view name) {
  if (isPlainOption(name)) {
    MenuItemClick(name);
  } else if (name == "DelAll1" || name == "NonInterDel1") {
    DelAll1Click(name);
  } else if (name == "MenuSel") {
    MenuSelClick();
  } else if (name == "Hints1") {
    Hints1Click();
  } else if (name == "WinStart1") {
    WinStart1Click();
  } else if (name == "ShowTips1" || name == "FlashSent1" || name == "HeaderCache1") {
    kv_.KVmain->toggle(name);
  } else {
    return false;
  }
  return true;
}

void WindowHandlers::MenuItemClick(std::string_view name) {
  auto& main = *kv_.KVmain;
  main.toggle(name);
  // With Cable/ADSL every spam level redials: the option cannot be cleared.
  if (!main.checked("RedialAll1")) {
    main.setChecked("RedialAll1", kv_.KVWForm1->value("KVWccntypeGroup") == 0);
  }
}

void WindowHandlers::DelAll1Click(std::string_view name) {
  auto& main = *kv_.KVmain;
  const bool on = main.toggle(name);
  if (on && kv_.Prompter.MsgBox("Not recommended. Are you sure", "Kelvrin", false,
                                ui::kMbYesNo | ui::kMbIconStop) == ui::kIdNo) {
    main.setChecked(name, false);
  }
  auto& cmd = kv_.Commands;
  const bool delAll = main.checked("DelAll1");
  cmd.setVisible({"DeleteAll1", "ToolButton5", "btDelall1"}, delAll);
  if (cmd.Visible("ToolButton5")) cmd.setEnabled("ToolButton5", kv_.State.OnlineState == kOnline);
  cmd.setEnabled("btDelall1", delAll);
}

void WindowHandlers::applyMenuSel() {
  const bool menuBar = kv_.KVmain->checked("MenuSel");
  kv_.Commands.setVisible("ToolBar1", !menuBar);
  kv_.Commands.setVisible("MainMenu1", menuBar);
}

void WindowHandlers::MenuSelClick() {
  kv_.KVmain->toggle("MenuSel");
  applyMenuSel();
}

void WindowHandlers::Hints1Click() {
  kv_.KVmain->toggle("Hints1");
}

void WindowHandlers::WinStart1Click() {
  kv_.KVmain->toggle("WinStart1");
  StartUpClick();
}

void WindowHandlers::StartUpClick() {
  auto& startup = kv_.startupEntry();
  startup.SetRunEntry(1);
  if (!kv_.KVmain->checked("WinStart1")) return;
  if (kv_.Prompter.MsgBox("You want Kelvrin to start with Windows?", "Kelvrin", false,
                          ui::kMbYesNo | ui::kMbIconQuestion) == ui::kIdNo) {
    kv_.KVmain->setChecked("WinStart1", false);
  } else {
    startup.SetRunEntry(0);
  }
}

int WindowHandlers::GeneralSettings() {
  kv_.ETimer1.setEnabled(false);
  kv_.ETimer2.setEnabled(false);
  int result = 2;
  try {
    result = kv_.settingsWizard().ShowModal(kv_);
    if (result == 1) {
      kv_.ResetStatus();
      kv_.WizardIniVal.SaveAll();
    }
  } catch (...) {
    kv_.ETimer1.setEnabled(true);
    kv_.ETimer2.setEnabled(true);
    throw;
  }
  kv_.ETimer1.setEnabled(true);
  kv_.ETimer2.setEnabled(true);
  return result;
}

void WindowHandlers::HelpBtn1Click() {
  kv_.windowPort().ShowHelp("");
}

void WindowHandlers::ShowWindowFromTray() {
  kv_.State.MainWindowVisible = true;
  kv_.windowPort().ShowWindowFromTray();
}

void WindowHandlers::ShowHide1Click() {
  if (kv_.State.MainWindowVisible) {
    kv_.State.MainWindowVisible = false;
    kv_.windowPort().MinimizeApplication();
    kv_.Commands.setCaption("ShowHide1", "Show");
  } else {
    kv_.windowPort().ShowServerTab();
    ShowWindowFromTray();
    kv_.Commands.setCaption("ShowHide1", "Hide");
  }
}

void WindowHandlers::ActionTrayClick(bool shift, bool ctrl) {
  if (!kv_.KVmain->checked("AllowCtrlDel")) return;
  const auto& s = kv_.State;
  if (shift && (s.ValidCount > 0 || s.SuspectCount > 0)) {
    kv_.mailProgram().SendReceive1Click(kv_);
    return;
  }
  if (!ctrl) return;
  if (s.ValidCount == 0 || !kv_.KVmain->checked("WarnDelNoSpam1")) {
    kv_.btDeleteClick(kTagDeleteAll);
  } else if (kv_.Prompter.MsgBox("Non-spam messages!\rSure you want to delete?", "Kelvrin", false,
                                 ui::kMbYesNo | ui::kMbIconExclamation) == ui::kIdYes) {
    kv_.btDeleteClick(kTagDeleteAll);
  }
}

void WindowHandlers::TrayIcon1MouseDown() {
  auto& s = kv_.State;
  if (s.CheckRequested || s.CheckInProgress) return;
  kv_.ResetStatus();
  s.CheckRequested = true;
  kv_.ETimer2.setInterval(1000);
  s.TickCount = 0;
}

void WindowHandlers::TrayIcon1MouseUp() {
  kv_.State.CheckRequested = false;
}

void WindowHandlers::TrayIcon1MouseMove() {
  kv_.idleWatch().SnoozeTimerTimer(IdleWatch::Sender::TrayIcon);
}

void WindowHandlers::Timer2Timer() {
  if (!kv_.State.CheckRequested) return;
  kv_.Check().guarded([this] { kv_.Check().RunRequestedCheck(); });
}

}  // namespace kelvrin::app
