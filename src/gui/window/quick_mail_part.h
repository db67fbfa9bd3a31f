#pragma once

// The quick-mail form plugged into the main window: ShowDemForm for a blank
// quick mail ("&Qmail"), a quick reply, a reply with quote and a support
// request; the favourites' "MailTo"; and the form of a fast e-mail. The
// rules of each are the core's; this part shows the form and hands over.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/later_parts.h"
#include "outgoing/quick_mail.h"

namespace kelvrin::app {
class TKVmain;
}
namespace kelvrin::outgoing {
class MailSender;
}

namespace kelvrin::gui {

class TKVemForm1;

class QuickMailPart final : public app::QuickReply {
 public:
  // The mails leave through sender; the form is modal on owner.
  QuickMailPart(app::TKVmain& kv, outgoing::MailSender& sender, QWidget* owner);
  ~QuickMailPart() override;

  void ShowDemForm(const filter::MessageNode* record, const std::string& body,
                   bool support) override;
  // "MailTo" of the favourites list: a quick mail to the selected ones.
  void MailTo1Click();
  // The form of a fast e-mail (no To box); true when it closed with OK, body
  // then holding its text.
  bool FastEmailForm(std::string& body);

  const outgoing::QuickMail& logic() const { return quickMail_; }
  // Runs on every form once it is built, before it is shown (tests drive
  // the form through it).
  std::function<void(TKVemForm1&)> onFormShown;

 private:
  std::unique_ptr<TKVemForm1> makeForm();
  int showForm(TKVemForm1& form);

  app::TKVmain& kv_;
  outgoing::MailSender& sender_;
  QPointer<QWidget> owner_;
  outgoing::QuickMail quickMail_;
  // The text typed last in an address box, for Ctrl+Space; kept for the run.
  std::shared_ptr<std::string> lastTyped_ = std::make_shared<std::string>();
};

}  // namespace kelvrin::gui
