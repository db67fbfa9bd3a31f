#include "gui/program/qt_settings_wizard.h"

#include "app/kvmain.h"
#include "app/main_state.h"
#include "gui/dialogs/wizard_dialog.h"
#include "platform/x11_key_sender.h"
#include "platform/x11_mail_program.h"
#include "protocols/certificate_file.h"
#include "settings/sendkeys.h"

namespace kelvrin::gui {

QtSettingsWizard::QtSettingsWizard(app::TKVmain& kv, protocols::SocketFactory socketFactory)
    : kv_(kv),
      host_(kv, &protocols::certificateFileProblem,
            [] { return settings::GetEmailProg(platform::defaultMailProgramName()); }),
      logic_(*kv.KVWForm1, *kv.lbAllowEM, kv.IniFile, host_,
             [&kv] { return kv.State.StartPhase == app::kStartFirstRun; }),
      probe_(std::move(socketFactory), kv.Pump, kv.Clock) {}

QtSettingsWizard::~QtSettingsWizard() = default;

int QtSettingsWizard::ShowModal(app::TKVmain& kv) {
  if (!dialog_) {
    dialog_ = std::make_unique<WizardDialog>(
        logic_, WizardDialog::Lists{*kv.lbAllowEM, *kv.lbBanSubject, *kv.lbBanEM});
    dialog_->setServiceEntries(serviceEntries_);
    dialog_->setTestKey([&kv](const std::string& macroText, const std::string& recorded,
                              const std::string& emailProgText) {
      return platform::TestKey1Click(kv, macroText, recorded, emailProgText);
    });
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

}  // namespace kelvrin::gui
