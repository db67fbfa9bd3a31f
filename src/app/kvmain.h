#pragma once

// TKVmain: the main window without its window. It owns everything that lives
// for the whole run — the POP3 client and the message list, the forms and
// the settings file, the rule lists, the shared state, the state models the
// GUI renders, the handlers, and the ports it was given — and it is where
// the handlers reach each other.
//
// Member order is ownership order: everything is declared after what it
// refers to, so it is destroyed first. In particular the POP3 client, which
// owns the messages of a check, is declared before MessageList1 and the
// message view, which refer to them.

#include <filesystem>
#include <memory>
#include <string>

#include "app/command_model.h"
#include "app/later_parts.h"
#include "app/main_state.h"
#include "app/message_view.h"
#include "app/status_bar.h"
#include "filter/edit_list_box.h"
#include "mail/mail_message.h"
#include "notify/idle_measure.h"
#include "notify/post_check_notification.h"
#include "notify/scheduler.h"
#include "notify/sound_player.h"
#include "notify/timer_model.h"
#include "notify/tray_icon.h"
#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "protocols/pop3_client.h"
#include "protocols/socket.h"
#include "settings/form.h"
#include "settings/ini_file.h"
#include "settings/ini_val.h"
#include "settings/settings_section.h"
#include "ui/prompter.h"

namespace kelvrin::app {

class CheckCycle;
class MessageViewHandlers;
class Deletion;
class BodyDisplay;
class WindowHandlers;

// What the platform gives the core.
struct Ports {
  protocols::SocketFactory socketFactory;  // empty: real sockets
  protocols::EventPump& pump;
  protocols::Clock& clock;
  ui::Prompter& prompter;
};

// "Kelvrinate V" + the version digits.
inline constexpr const char* kTitlePrefix = "Kelvrinate V";
// The version of the build with its dots removed ("0.1.0" gives "010").
std::string versionDigits(std::string_view version);

class TKVmain {
 public:
  // programDir is the settings home; a trailing "/" is added when missing.
  TKVmain(Ports ports, std::filesystem::path settingsHome);
  ~TKVmain();
  TKVmain(const TKVmain&) = delete;
  TKVmain& operator=(const TKVmain&) = delete;

  // Start-up and exit, as far as they set up state: reading the settings
  // file and the lists, the commands that depend on options, the tray, the
  // timers and the online state. FormDestroy quits a held session.
  void FormCreate();
  void FormShow();
  void FormDestroy();
  // The main window's options saved as it is destroyed (not after a
  // cancelled first run, which clears IniVal1.Automatic). The window calls
  // it after FormDestroy; programs without a window keep the file as it is.
  void SaveOptions();

  // The ports.
  protocols::EventPump& Pump;
  protocols::Clock& Clock;
  ui::Prompter& Prompter;

  MainState State;
  // The user's presence, fed by inputSeen().
  notify::IdleMeasure Idle;

  // Settings: the two forms, their settings components and the file.
  std::filesystem::path SettingsHome;
  std::unique_ptr<settings::Form> KVmain;
  std::unique_ptr<settings::Form> KVWForm1;
  settings::TIniVal IniVal1;
  settings::TIniVal WizardIniVal;
  settings::IniFile IniFile;
  settings::SettingsSection Settings;

  // The rule lists of the wizard and the lists of the main window.
  std::unique_ptr<filter::TEditListBox> lbBanEM;
  std::unique_ptr<filter::TEditListBox> lbBanSubject;
  std::unique_ptr<filter::TEditListBox> lbAllowEM;
  std::unique_ptr<filter::TEditListBox> Favourites1;
  std::unique_ptr<filter::TEditListBox> WebListBox1;

  // The POP3 client owns the messages that MessageList1 refers to.
  protocols::TPop3Client Pop3Client1;
  mail::TMailMessageList MessageList1;
  // The server's unique ids in server order, fetched by a deletion or a body
  // display on a server that gives them.
  mail::TStringList UIDLList;

  // State models.
  notify::TrayIconModel TrayIcon1;
  StatusBarModel dfsStatus;
  CommandModel Commands;
  MessageViewModel VTree1;
  notify::TimerModel ETimer1{3000, false};
  notify::TimerModel ETimer2{1000, false};
  notify::TimerModel SnoozeTimer{1000, false};
  notify::YouHaveMailPanel YHMGroupBox1;
  // The "Communications" tab is shown (the command mails are enabled).
  notify::ChangeNotifier<> TabSheet2Changed;
  notify::Announced<bool> TabSheet2Visible{false, TabSheet2Changed};

  // Parts built elsewhere; each defaults to doing nothing.
  void setSysMessages(std::unique_ptr<SysMessages> part);
  void setVersionCheck(std::unique_ptr<VersionCheck> part);
  void setDialUp(std::unique_ptr<DialUp> part);
  void setIdleWatch(std::unique_ptr<IdleWatch> part);
  void setQuickReply(std::unique_ptr<QuickReply> part);
  void setWindowPort(std::unique_ptr<WindowPort> part);
  void setDeletionCopy(std::unique_ptr<DeletionCopy> part);
  void setStartupEntry(std::unique_ptr<StartupEntry> part);
  void setSettingsWizard(std::unique_ptr<SettingsWizard> part);
  void setPostCheckNotification(std::unique_ptr<notify::PostCheckNotification> part);
  void setSoundPlayer(std::unique_ptr<notify::SoundPlayer> part);
  void setMailProgram(std::unique_ptr<MailProgram> part);
  void setDesktop(std::unique_ptr<DesktopPort> part);
  SysMessages& sysMessages() { return *sysMessages_; }
  VersionCheck& versionCheck() { return *versionCheck_; }
  DialUp& dialUp() { return *dialUp_; }
  IdleWatch& idleWatch() { return *idleWatch_; }
  QuickReply& quickReply() { return *quickReply_; }
  WindowPort& windowPort() { return *windowPort_; }
  DeletionCopy& deletionCopy() { return *deletionCopy_; }
  StartupEntry& startupEntry() { return *startupEntry_; }
  SettingsWizard& settingsWizard() { return *settingsWizard_; }
  notify::PostCheckNotification& postCheckNotification() { return *notification_; }
  notify::SoundPlayer& soundPlayer() { return *soundPlayer_; }
  MailProgram& mailProgram() { return *mailProgram_; }
  DesktopPort& desktop() { return *desktop_; }
  // What a replacement notification is built with.
  notify::NotificationHost& notificationHost();

  // The handlers.
  CheckCycle& Check() { return *checkCycle_; }
  MessageViewHandlers& View() { return *viewHandlers_; }
  Deletion& Delete() { return *deletion_; }
  BodyDisplay& Body() { return *bodyDisplay_; }
  WindowHandlers& Window() { return *windowHandlers_; }
  notify::Scheduler& Timers() { return *scheduler_; }

  // The timers' ticks, as the desktop program delivers them. Each does
  // nothing while its timer is stopped, so a tick that was already queued
  // when the timer stopped (the wizard opened, the window closed) is lost.
  void Timer2Timer();
  void SnoozeTimerTimer();
  // Every key and mouse event of the program's windows.
  void inputSeen() { Idle.inputSeen(); }
  void TrayIcon1BalloonHintClick(bool shift, bool ctrl);

  // The operations the other parts share, forwarded to their handler.
  void GetServerMessages();
  bool InitComms();
  void EndSession();
  void ResetStatus();
  void DelButtonEnable(bool Enable);
  void VtreeToFront();
  void btOpenClick();
  void RequestCheckWithoutClick();
  void BtCancelClick();
  void btDeleteClick(int originTag);
  void DisplayBody();
  // Waits while letting events run: 1 ms sleeps, events every 20 ms.
  void Delay(std::uint32_t Milliseconds);

  // Whether the main window is shown (not in the tray).
  bool mainWindowVisible() const { return State.MainWindowVisible; }

 private:
  class SchedulerBridge;
  class NotificationBridge;
  // Built before the handlers and the notification that call into them.
  std::unique_ptr<SchedulerBridge> schedulerBridge_;
  std::unique_ptr<NotificationBridge> notificationBridge_;

  std::unique_ptr<SysMessages> sysMessages_;
  std::unique_ptr<VersionCheck> versionCheck_;
  std::unique_ptr<DialUp> dialUp_;
  std::unique_ptr<IdleWatch> idleWatch_;
  std::unique_ptr<QuickReply> quickReply_;
  std::unique_ptr<WindowPort> windowPort_;
  std::unique_ptr<DeletionCopy> deletionCopy_;
  std::unique_ptr<StartupEntry> startupEntry_;
  std::unique_ptr<SettingsWizard> settingsWizard_;
  // A first run shows the wizard only where there is one (not on the
  // command line).
  bool wizardPlugged_ = false;
  std::unique_ptr<notify::PostCheckNotification> notification_;
  std::unique_ptr<notify::SoundPlayer> soundPlayer_;
  std::unique_ptr<MailProgram> mailProgram_;
  std::unique_ptr<DesktopPort> desktop_;

  std::unique_ptr<CheckCycle> checkCycle_;
  std::unique_ptr<MessageViewHandlers> viewHandlers_;
  std::unique_ptr<Deletion> deletion_;
  std::unique_ptr<BodyDisplay> bodyDisplay_;
  std::unique_ptr<WindowHandlers> windowHandlers_;
  std::unique_ptr<notify::Scheduler> scheduler_;
};

}  // namespace kelvrin::app
