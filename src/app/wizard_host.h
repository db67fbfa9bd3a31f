#pragma once

// What the settings wizard asks of the main window: its message boxes, the
// timed-check captions and the tray picture that follow the interval, the
// online state that follows the connection type, and Send/Receive.

#include <functional>
#include <string>

#include "settings/wizard.h"

namespace kelvrin::app {

class TKVmain;

class KvWizardHost : public settings::WizardHost {
 public:
  // certificateProblem: the reason a file holds no usable certificate
  // (empty when it does); without one every existing file passes.
  // emailProg: the name of the user's mail program for an emptied field.
  explicit KvWizardHost(TKVmain& kv,
                        std::function<std::string(const std::string&)> certificateProblem = {},
                        std::function<std::string()> emailProg = {});

  void InfoBox(const std::string& text) override;
  void StopBox(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void IntervalChanged(int minutes) override;
  void ConnectionTypeApplied(int type) override;
  void DialUpChosen() override;
  void HotKeyCleared() override;
  std::string CertificateFileProblem(const std::string& path) override;
  std::string GetEmailProg() override;

 private:
  TKVmain& kv_;
  std::function<std::string(const std::string&)> certificateProblem_;
  std::function<std::string()> emailProg_;
};

}  // namespace kelvrin::app
