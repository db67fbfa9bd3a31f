#pragma once

// The places where the check cycle, the deletion and the body display call
// into parts of the program that are built elsewhere: command mails, the
// version check, dial-up, the idle timer, the quick-reply form and the
// window itself. Each is a small interface whose defaults do nothing, so the
// core runs without them (the command line has none) and the desktop program
// plugs in its own.

#include <cstdint>
#include <string>

#include "filter/message_node.h"

namespace kelvrin::app {

class TKVmain;

// Command and flash mails among the fetched headers.
class SysMessages {
 public:
  virtual ~SysMessages() = default;
  // Runs once after the headers of a check are fetched. May remove command
  // mails from MessageList1 (and delete them on the server) and may end the
  // session.
  virtual void IncomingSysMessage(TKVmain&) {}
  // The reply to a flash message whose balloon was clicked.
  virtual void StartFlashReply(TKVmain&) {}
};

class VersionCheck {
 public:
  virtual ~VersionCheck() = default;
  // "Check For Updates".
  virtual void Check4NewVer1Click() {}
  // The automatic request of the check cycle.
  virtual void Check4NewVersion() {}
  // Clears the running marks of the version check and the upgrader.
  virtual void ClearRunningMarks() {}
  // Stops an automatic upgrade download that is running.
  virtual void StopDownload() {}
  // The website list of the "Communications" tab made consistent with its
  // check boxes (once at start-up, after the list is loaded).
  virtual void WebListBox1Exit() {}
  // The website monitor's step before a timed check.
  virtual void MonitorWebsites() {}
};

class DialUp {
 public:
  virtual ~DialUp() = default;
  // A dial-up connection that the system made is up.
  virtual bool SystemConnectionUp() { return false; }
  // The dial-up component holds a connection (dialling or connected).
  virtual bool HoldsConnection() { return false; }
  virtual void StartDialler() {}
  // StartDialler for an operation that needs the line at once: waits,
  // letting events run, until the call is up or has ended otherwise. True
  // when the line is up (or, without a dial-up component, nothing to wait
  // for).
  virtual bool DialAndWait() {
    StartDialler();
    return true;
  }
  virtual void HangUp() {}
  // Cancels dialling and hangs up.
  virtual void Cancel() {}
  // A call is being dialled (its wait has not ended yet).
  virtual bool Dialling() { return false; }
  // The connection detector counts as offline until it next sees a line,
  // so that the line a dial brings up is reported as a new connection.
  virtual void SetDetectorOffline() {}
  // The address text of the connection detector.
  virtual std::string AddressText() { return {}; }
  // The connection type took effect (0 Cable/ADSL, 1 dial-up).
  virtual void ConnectionTypeChanged(int /*type*/) {}
  // Why a dial-up line cannot be used here and what to do; empty when it can.
  virtual std::string UnavailableText() { return {}; }
};

// The idle measure of the timers: the user is present.
class IdleWatch {
 public:
  virtual ~IdleWatch() = default;
  enum class Sender { MessageView, TrayIcon, YouHaveMailLabel, Window };
  virtual void SnoozeTimerTimer(Sender) {}
};

// Keeps what a deletion removes (the quarantine).
class DeletionCopy {
 public:
  virtual ~DeletionCopy() = default;
  // Called right before the DELE of the message at position of the open
  // session, with the row that asked for it. False keeps the message on the
  // server (the status says why); the deletion goes on with the next row.
  virtual bool CopyBeforeDelete(TKVmain&, std::uint16_t /*position*/, const filter::MessageNode&) {
    return true;
  }
};

class QuickReply {
 public:
  virtual ~QuickReply() = default;
  // Opens the quick-reply form for a message, with the quoted text (empty
  // for a plain reply).
  void Open(const filter::MessageNode& record, const std::string& quote) {
    ShowDemForm(&record, quote, false);
  }
  // The quick-mail form: a reply to record when there is one, else a blank
  // quick mail, or a support request; body is the text it starts with.
  virtual void ShowDemForm(const filter::MessageNode* /*record*/, const std::string& /*body*/,
                           bool /*support*/) {}
};

// The desktop's start-up entry of the program ("Windows Startup").
class StartupEntry {
 public:
  virtual ~StartupEntry() = default;
  // Mode 0 writes the entry, 1 removes it; other modes do nothing. The
  // result is always false and nobody reads it.
  virtual bool SetRunEntry(int /*Mode*/) { return false; }
};

// The settings wizard. Without one, GeneralSettings reports Cancel.
class SettingsWizard {
 public:
  virtual ~SettingsWizard() = default;
  // Shows the wizard modally; 1 OK (Finish), 2 Cancel.
  virtual int ShowModal(TKVmain&) { return 2; }
  // The page the next ShowModal opens on ("TabSheet5" is "Connect").
  virtual void SelectPage(const std::string& /*page*/) {}
};

// The user's own mail program, driven by its recorded hot-key.
class MailProgram {
 public:
  virtual ~MailProgram() = default;
  virtual void SendReceive1Click(TKVmain&) {}
};

// What the desktop tells and does for the notification and the scheduler.
class DesktopPort {
 public:
  virtual ~DesktopPort() = default;
  // The Shift and Ctrl keys as they are held now.
  virtual bool ShiftHeld() { return false; }
  virtual bool CtrlHeld() { return false; }
  // Switches the desktop's screen saver off (the invasive idle action).
  virtual void ScreenSaverOff() {}
};

// What only a window can do.
class WindowPort {
 public:
  virtual ~WindowPort() = default;
  // Restores and shows the main window and brings it to the foreground.
  virtual void ShowWindowFromTray() {}
  // Shows the "Server" tab of the main window.
  virtual void ShowServerTab() {}
  // Opens the help at a topic ("" for the contents).
  virtual void ShowHelp(const std::string& /*topic*/) {}
  // Minimising goes to the tray; the core has already marked the window hidden.
  virtual void MinimizeApplication() {}
  virtual void CloseMainWindow() {}
  virtual void Repaint() {}
  // Opens the tray menu again (after "Mark All").
  virtual void PopupTrayMenu() {}
  // A left-button press and release at the main window's client origin.
  virtual void PostClickAtClientOrigin() {}
  // Shows a fetched body in the window's own body window (caption and text
  // as display text) with the buttons OK, Spam, Reply and Reply Quote, and
  // returns the one pressed (11 ... 14). 0: there is no body window, and the
  // body goes into a message box instead.
  virtual int ShowBody(const std::string& /*caption*/, const std::string& /*text*/) { return 0; }
};

}  // namespace kelvrin::app
