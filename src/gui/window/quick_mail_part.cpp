#include "gui/window/quick_mail_part.h"

#include "app/kvmain.h"
#include "gui/dialogs/lookup_combo_box.h"
#include "gui/dialogs/qt_text.h"
#include "gui/dialogs/quick_mail_dialog.h"
#include "outgoing/send_mail.h"

namespace kelvrin::gui {

namespace {

// The status bar's gauge follows the send while a form is in use.
class SendProgressToGauge {
 public:
  SendProgressToGauge(app::TKVmain& kv, protocols::TSmtpClient& client)
      : client_(client), previous_(std::move(client.OnSendProgress)) {
    client_.OnSendProgress = [&kv](protocols::TSmtpClient&, std::uint16_t percent) {
      kv.dfsStatus.setGauge(percent);
    };
  }
  ~SendProgressToGauge() { client_.OnSendProgress = std::move(previous_); }
  SendProgressToGauge(const SendProgressToGauge&) = delete;
  SendProgressToGauge& operator=(const SendProgressToGauge&) = delete;

 private:
  protocols::TSmtpClient& client_;
  protocols::TSmtpClient::TOnSendProgressEvent previous_;
};

}  // namespace

QuickMailPart::QuickMailPart(app::TKVmain& kv, outgoing::MailSender& sender, QWidget* owner)
    : kv_(kv), sender_(sender), owner_(owner), quickMail_(kv, sender) {}

QuickMailPart::~QuickMailPart() = default;

std::unique_ptr<TKVemForm1> QuickMailPart::makeForm() {
  return std::make_unique<TKVemForm1>(kv_.IniFile, kv_.KVWForm1->text("KVWMainEmail1"),
                                      kv_.KVmain->checked("Hints1"), lastTyped_, owner_.data());
}

int QuickMailPart::showForm(TKVemForm1& form) {
  if (onFormShown) onFormShown(form);
  return form.exec();
}

void QuickMailPart::ShowDemForm(const filter::MessageNode* record, const std::string& body,
                                bool support) {
  SendProgressToGauge gauge(kv_, sender_.SmtpClient1);
  auto form = makeForm();
  form->setFields(quickMail_.Open(record, body, support));
  const bool ok = showForm(*form) == QDialog::Accepted;
  quickMail_.Close(ok, form->fields());
}

void QuickMailPart::MailTo1Click() {
  const auto recipients = outgoing::MailToAddresses(*kv_.Favourites1);
  if (!recipients) return;
  SendProgressToGauge gauge(kv_, sender_.SmtpClient1);
  auto form = makeForm();
  form->ComboBox2()->setEditText(qtText(recipients->To));
  form->showMultiAddressWarning(recipients->MultiAddressWarning);
  const bool ok = showForm(*form) == QDialog::Accepted;
  form->showMultiAddressWarning(false);
  const outgoing::QuickMailFields f = form->fields();
  if (ok && f.Body.find(outgoing::kBodyPlaceholder) == std::string::npos) {
    // Reported by the send's own status texts only.
    (void)sender_.SendMAPImail("", f.From, false, f.Body, f.Subject, f.To);
  }
}

bool QuickMailPart::FastEmailForm(std::string& body) {
  auto form = makeForm();
  form->hideRecipients();
  if (!body.empty()) {
    outgoing::QuickMailFields f = form->fields();
    f.Body = body;
    form->setFields(f);
  }
  if (showForm(*form) != QDialog::Accepted) return false;
  body = form->fields().Body;
  return true;
}

}  // namespace kelvrin::gui
