#pragma once

// The settings wizard of the desktop program: the wizard's logic bound to
// the main window, shown in its dialog. The dialog is made at the first
// opening and kept for the later ones.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/account_probe.h"
#include "app/later_parts.h"
#include "app/wizard_host.h"
#include "settings/wizard.h"

namespace kelvrin::gui {

class WizardDialog;

class QtSettingsWizard final : public app::SettingsWizard {
 public:
  // socketFactory: how "Test settings" connects (empty: real sockets).
  QtSettingsWizard(app::TKVmain& kv, protocols::SocketFactory socketFactory = {});
  ~QtSettingsWizard() override;

  int ShowModal(app::TKVmain& kv) override;
  void SelectPage(const std::string& page) override;

  // The dial-up phone-book entries.
  void setServiceEntries(std::function<std::vector<std::string>()> entries);

  // Made at the first opening.
  WizardDialog* dialog() const { return dialog_.get(); }
  settings::TKVWForm1& logic() { return logic_; }

 private:
  app::TKVmain& kv_;
  app::KvWizardHost host_;
  settings::TKVWForm1 logic_;
  app::AccountProbe probe_;
  std::function<std::vector<std::string>()> serviceEntries_;
  std::unique_ptr<WizardDialog> dialog_;
};

}  // namespace kelvrin::gui
