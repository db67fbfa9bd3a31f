#include "gui/program/qt_settings_wizard.h"

#include "app/kvmain.h"
#include "app/main_state.h"
#include "gui/dialogs/wizard_dialog.h"
#include "protocols/certificate_file.h"

namespace kelvrin::gui {

QtSettingsWizard::QtSettingsWizard(app::TKVmain& kv, protocols::SocketFactory socketFactory)
    : kv_(kv),
      host_(kv, &protocols::certificateFileProblem),
      logic_(*kv.KVWForm1, *kv.lbAllowEM, kv.IniFile, host_,
             [&kv] { return kv.State.StartPhase == app::kStartFirstRun; }),
      probe_(std::move(socketFactory), kv.Pump, kv.Clock) {}

QtSettingsWizard::~QtSettingsWizard() = default;

int QtSettingsWizard::ShowModal(app::TKVmain& kv) {
  if (!dialog_) {
    dialog_ = std::make_unique<WizardDialog>(
        logic_, WizardDialog::Lists{*kv.lbAllowEM, *kv.lbBanSubject, *kv.lbBanEM});
    dialog_->setServiceEntries(serviceEntries_);
    dialog_->setTestKey(testKey_);
    dialog_->setTestSettings(
        [this](const settings::Form& draft) { return probe_.run(draft).text(); },
        [this] { probe_.abort(); });
    logic_.FormCreate();
    dialog_->setHintsShown(kv.KVmain->checked("Hints1"));
  }
  return dialog_->showModal();
}

void QtSettingsWizard::SelectPage(const std::string& page) {
  logic_.SelectPage(page);
}

void QtSettingsWizard::setServiceEntries(std::function<std::vector<std::string>()> entries) {
  serviceEntries_ = std::move(entries);
  if (dialog_) dialog_->setServiceEntries(serviceEntries_);
}

void QtSettingsWizard::setTestKey(std::function<void()> testKey) {
  testKey_ = std::move(testKey);
  if (dialog_) dialog_->setTestKey(testKey_);
}

}  // namespace kelvrin::gui
