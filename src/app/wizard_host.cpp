#include "app/wizard_host.h"

#include "app/kvmain.h"
#include "ui/message_box.h"

namespace kelvrin::app {

KvWizardHost::KvWizardHost(TKVmain& kv,
                           std::function<std::string(const std::string&)> certificateProblem,
                           std::function<std::string()> emailProg)
    : kv_(kv),
      certificateProblem_(std::move(certificateProblem)),
      emailProg_(std::move(emailProg)) {}

void KvWizardHost::InfoBox(const std::string& text) {
  kv_.Prompter.InfoBox(text);
}

void KvWizardHost::StopBox(const std::string& text) {
  kv_.Prompter.MsgBox(text, "Kelvrin", false, ui::kMbOk | ui::kMbIconStop);
}

bool KvWizardHost::AskYesNo(const std::string& text) {
  return kv_.Prompter.MsgBox(text, "Kelvrin", false, ui::kMbYesNo) == ui::kIdYes;
}

void KvWizardHost::IntervalChanged(int minutes) {
  auto& s = kv_.State;
  const char* caption = minutes == 0 ? "Enable Timed Check" : "Disable Timed Check";
  kv_.Commands.setCaption("Disable1", caption);
  kv_.Commands.setCaption("Disable2", caption);
  if (minutes == 0) {
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle, notify::kIdleTimedChecksOff);
    s.TrayResultShown = 1;
  } else {
    notify::TrayIconDisplay(kv_.TrayIcon1, notify::kTrayIdle,
                            s.OnlineState == kOnline ? notify::kIdleOnline : notify::kIdleOffline);
    s.TrayResultShown = 0;
  }
}

void KvWizardHost::ConnectionTypeApplied(int type) {
  // Cable/ADSL is always online; a dial-up line is what the detector says,
  // and the detector tells its next change itself.
  if (type == 0) kv_.State.OnlineState = kOnline;
  kv_.dialUp().ConnectionTypeChanged(type);
}

void KvWizardHost::DialUpChosen() {
  const std::string why = kv_.dialUp().UnavailableText();
  if (!why.empty()) InfoBox(why);
}

void KvWizardHost::HotKeyCleared() {
  kv_.State.SendRcvReady = 0;
}

std::string KvWizardHost::CertificateFileProblem(const std::string& path) {
  return certificateProblem_ ? certificateProblem_(path) : std::string();
}

std::string KvWizardHost::GetEmailProg() {
  return emailProg_ ? emailProg_() : std::string();
}

}  // namespace kelvrin::app
