#include "settings/forms.h"

#include <string>

#include "settings/ini_document.h"

namespace kelvrin::settings {

int defaultSecurityForPort(int port) {
  return (port == 995 || port == 465) ? kSecurityImplicitTls : kSecurityNone;
}

int defaultSecurityForPort(std::string_view portText) {
  std::string digits;
  for (char c : portText) {
    if (c != ' ') digits.push_back(c);
  }
  const auto port = parseIniInteger(digits);
  return port ? defaultSecurityForPort(*port) : kSecurityNone;
}

std::unique_ptr<Form> makeKVmainForm() {
  auto form = std::make_unique<Form>(std::string(kMainFormName));
  Form& f = *form;
  // The options, in the order the window creates them.
  f.addChecked("MinCheck1", true, "Start Minimized");
  f.addChecked("WinStart1", false, "Windows Startup");
  f.addChecked("CloseToTray1", false, "Close To Tray");
  f.addChecked("MinOnDel1", true, "Minimize on Tray Delete");
  f.addChecked("SndEnable1", true, "Sound");
  f.addChecked("SndVoiceEnable1", true, "Voice Sounds");
  f.addChecked("DelAll1", false, "Delete All menu item");
  f.addChecked("MenuSel", false, "MenuBar");
  f.addChecked("NonInterDel1", false, "Non-Interactive Spam Delete - CAUTION!");
  f.addChecked("AutoSR", false, "Automatic (email) Send/Receive ");
  f.addChecked("Invasive1", false, "Invasive mail notification");
  f.addChecked("TrayBalloonNotify1", true, "Tray Balloon Notify");
  f.addChecked("EmailBalloon1", true, "EmailAdds Tray Balloon prompt");
  f.addChecked("AllowCtrlDel", true, "Tray Balloon Click+[Ctrl]=Delete all");
  f.addChecked("WarnDelNoSpam1", true, "Warn Delete && NoSpam");
  f.addChecked("showcurrent_IP", true, "Show your I.P. on Status");
  f.addChecked("ExtraAdds1", true, "Multi-address increase Spam Level");
  f.addChecked("RedialAll1", true, "Redial all Spam levels");
  f.addChecked("DisableScnsave1", false, "Disable Screensaver");
  f.addChecked("Disable1", false, "Disable Timed Check");
  f.addChecked("Disable2", false, "Disable Timed Check");
  f.addChecked("EnterDispBody1", true, "[Enter]=Display selected Body");
  f.addChecked("AutoUpdate1", true, "Web AutoUpdate");
  f.addChecked("ShowTips1", true, "Show Tips");
  f.addChecked("Hints1", true, "Hints On");
  f.addChecked("Paccount", true, "Primary");
  f.addChecked("SecAccount", false, "Secondary");
  f.addChecked("FlashSent1", true, "Show 'Message Sent' ");
  f.addChecked("wsactive1", false, "Active");
  f.addChecked("wslog1", false, "Keep Logfile");
  f.addText("FlashGreetEdit",
            "Flash Greeting (saved for future use) type here...............up to 160 characters");
  f.addChecked("DisableCheckWhenIdle1", false, "Disable Check When Idle");
  // Copies of deleted mail: kept (on by default), for how many days, and in
  // how many megabytes at most.
  f.addChecked("KeepDeleted1", true, "Keep Deleted Mail");
  f.addValue("KeepDeletedDays", 14);
  f.addValue("KeepDeletedMB", 200);
  // Headers of earlier checks taken from the cache instead of a TOP each.
  f.addChecked("HeaderCache1", true, "Use header cache");

  // Commands: menu items and actions are checkable components too, so their
  // (always unchecked) state is stored like an option's and never read.
  f.addChecked("btOpen", false);
  f.addChecked("CheckNow1", false);
  f.addChecked("BtCancel", false);
  f.addChecked("BtDelete", false, "spam&Del/Del");
  f.addChecked("btDelall1", false, "del&All");
  f.addChecked("SendRcv", false, "send&Rcv/F9");
  f.addChecked("MenuItem1", false, "e&Xit");
  f.addChecked("General1", false, "&General Settings");
  f.addChecked("Check4NewVer1", false, "Check For Updates");
  f.addChecked("Help1", false);
  f.addChecked("Help2", false, "Help Contents");
  f.addChecked("MarkAll1", false, "Mark All");
  f.addChecked("N3", false, "-");
  f.addChecked("DeleteSpam1", false, "Spam delete");
  f.addChecked("DeleteAll1", false, "Delete All");
  f.addChecked("SendReceive1", false, "Send/Receive");
  f.addChecked("GeneralOptions1", false, "General Options");
  f.addChecked("Disconnect1", false);
  f.addChecked("ShowHide1", false, "Hide");
  f.addChecked("Exit1", false, "Exit");
  f.addChecked("CopyToAllowed1", false, "Copy To Allowed Email");
  f.addChecked("CopyToBanned1", false, "Copy To Banned Email");
  f.addChecked("CopyToBannedSubject1", false, "Copy To Banned Subject");
  f.addChecked("AddtoFavourites1", false, "Add to Favourites");
  f.addChecked("Action4", false);
  f.addChecked("DelClick", false);
  return form;
}

std::unique_ptr<Form> makeKVWForm1Form() {
  auto form = std::make_unique<Form>(std::string(kWizardFormName));
  Form& f = *form;
  f.addText("KVWMainEmail1", std::string(kPlaceholderMainEmail));
  f.addText("EmailProg1", "unknown email program");
  f.addText("MacroEdit1", "****");
  f.addText("KVWEdhost", std::string(kPlaceholderPopHost));
  f.addText("KVWsmtphost", std::string(kPlaceholderSmtpHost));
  f.addText("KVWsecEdhost", "");
  f.addText("KVWsecsmtphost", "");
  f.addText("KVWedUser", std::string(kPlaceholderUser));
  f.addText("KVWedPassword", std::string(kPlaceholderPassword));
  f.addText("KVWsecedUser", "");
  f.addText("KVWSecEdPassword", "");
  f.addText("PopPort", " 110");
  f.addText("SmtpPort", " 25 ");
  f.addText("KVWServiceComboBox", "");
  f.addText("KVWsecServiceComboBox", "");
  // A radio group: it has no stored property of its own, so only the
  // wizard's Finish and the start-up read and write it explicitly.
  f.addValue("KVWccntypeGroup", 1);
  f.setStored("KVWccntypeGroup", false);
  f.addChecked("Hangup1", true, "Hangup no traffic calls");
  f.addChecked("HangupSpam1", false, "Hangup spam only");
  f.addChecked("IncInterval1", false, "Incriment interval");
  f.addValue("Interval1", 3);
  f.addValue("IdleSecs1", 60);
  f.addValue("OnlineInt1", 0);
  f.addValue("SpinEdit2", 50);
  f.addValue("SpinEdit3", 50);
  f.addChecked("SpamOnSubject", false, "Is Spam");
  f.addChecked("PossSpamSubj", true, "Likely Spam");
  f.addValue("PopSecurity", kSecurityNone);
  f.addValue("SmtpSecurity", kSecurityNone);
  f.addText("CaFile", "");
  return form;
}

}  // namespace kelvrin::settings
