#pragma once

// The favourites and flash messages of the "Communications" tab: the list of
// other Kelvrin users, the message type, the greeting text, and the Message
// and Invite buttons. The sending itself is the core's.

#include <QWidget>
#include <memory>

#include "outgoing/command_mail.h"
#include "outgoing/flash_panel.h"
#include "outgoing/send_mail.h"

class QButtonGroup;
class QLineEdit;
class QPushButton;

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::gui {

class EditListBoxWidget;
class QuickMailPart;

// Opens links with the desktop's own handler (xdg-open).
class DesktopShell final : public outgoing::Shell {
 public:
  bool OpenLink(const std::string& link) override;
};

class CommunicationsTab : public QWidget {
  Q_OBJECT

 public:
  explicit CommunicationsTab(app::TKVmain& kv, QWidget* parent = nullptr);
  ~CommunicationsTab() override;

  void setShell(std::unique_ptr<outgoing::Shell> shell) { shell_ = std::move(shell); }
  // The quick-mail form behind "MailTo" and the fast e-mail; it must outlive
  // the tab.
  void setQuickMail(QuickMailPart* quickMail) { quickMail_ = quickMail; }
  EditListBoxWidget* favourites() const { return favourites_; }
  outgoing::FlashType chosenType() const;

  void FlashBox1Click();
  void FlashButtonClick();
  void InviteBtnClick();

 private:
  app::TKVmain& kv_;
  outgoing::MailSender sender_;
  outgoing::FlashPanel panel_;
  std::unique_ptr<outgoing::Shell> shell_;
  QuickMailPart* quickMail_ = nullptr;
  EditListBoxWidget* favourites_ = nullptr;
  QButtonGroup* types_ = nullptr;
  QLineEdit* greeting_ = nullptr;
  QPushButton* flashButton_ = nullptr;
  QPushButton* inviteButton_ = nullptr;
};

}  // namespace kelvrin::gui
