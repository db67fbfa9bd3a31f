#include "gui/window/communications_tab.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include "app/kvmain.h"
#include "gui/dialogs/edit_list_box_widget.h"
#include "gui/window/quick_mail_part.h"
#include "ui/message_box.h"

namespace kelvrin::gui {

bool DesktopShell::OpenLink(const std::string& link) {
  // The link goes out as written: its blanks are already encoded.
  return QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(link)));
}

CommunicationsTab::CommunicationsTab(app::TKVmain& kv, QWidget* parent)
    : QWidget(parent),
      kv_(kv),
      sender_(kv),
      panel_(kv, sender_),
      shell_(std::make_unique<DesktopShell>()) {
  auto* group = new QGroupBox(tr("Flash messages  are encrypted; for Kelvrin users only."), this);
  favourites_ = new EditListBoxWidget(*kv_.Favourites1, group);
  favourites_->setObjectName(QStringLiteral("Favourites1"));
  favourites_->setListMenu(outgoing::ListMenuOwner::Favourites, [this] {
    if (quickMail_) quickMail_->MailTo1Click();
  });

  auto* typeBox = new QGroupBox(group);
  typeBox->setObjectName(QStringLiteral("FlashBox1"));
  typeBox->setToolTip(tr("Message Type"));
  auto* typeLayout = new QVBoxLayout(typeBox);
  types_ = new QButtonGroup(this);
  const char* names[] = {"Voice Message",
                         "Request Voice Chat",
                         "Greet Selected Favourite",
                         "Flash Selected Favourite(s)",
                         "Email Selected Favourite(s)",
                         "Update Address (in/out)"};
  for (int i = 0; i < 6; ++i) {
    auto* button = new QRadioButton(QString::fromUtf8(names[i]), typeBox);
    button->setEnabled(i >= 2);
    types_->addButton(button, i);
    typeLayout->addWidget(button);
  }
  types_->button(static_cast<int>(outgoing::FlashType::Flash))->setChecked(true);

  greeting_ = new QLineEdit(group);
  greeting_->setObjectName(QStringLiteral("FlashGreetEdit"));
  greeting_->setMaxLength(160);
  greeting_->setText(QString::fromStdString(kv_.KVmain->text("FlashGreetEdit")));
  flashButton_ = new QPushButton(tr("Message"), group);
  flashButton_->setObjectName(QStringLiteral("FlashButton"));
  inviteButton_ = new QPushButton(tr("Invite"), group);
  inviteButton_->setObjectName(QStringLiteral("InviteBtn"));
  inviteButton_->setToolTip(tr("Invite your Favourite to use Kelvrin"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(flashButton_);
  buttons->addWidget(inviteButton_);
  auto* right = new QVBoxLayout;
  right->addWidget(typeBox);
  right->addWidget(greeting_);
  right->addLayout(buttons);
  auto* inner = new QHBoxLayout(group);
  inner->addWidget(favourites_, 1);
  inner->addLayout(right);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(group);

  FlashBox1Click();
  connect(types_, &QButtonGroup::idClicked, this, [this](int) { FlashBox1Click(); });
  connect(greeting_, &QLineEdit::textEdited, this, [this](const QString& text) {
    kv_.KVmain->setText("FlashGreetEdit", text.toStdString());
  });
  connect(flashButton_, &QPushButton::clicked, this, [this] { FlashButtonClick(); });
  connect(inviteButton_, &QPushButton::clicked, this, [this] { InviteBtnClick(); });
}

CommunicationsTab::~CommunicationsTab() = default;

outgoing::FlashType CommunicationsTab::chosenType() const {
  return static_cast<outgoing::FlashType>(types_->checkedId());
}

void CommunicationsTab::FlashBox1Click() {
  greeting_->setEnabled(chosenType() == outgoing::FlashType::Greeting);
}

void CommunicationsTab::FlashButtonClick() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int width = screen ? screen->geometry().width() : 1024;
  // The fast e-mail is written in the quick-mail form without its To box.
  const auto fastEmail = [this](std::string& body) {
    return quickMail_ != nullptr && quickMail_->FastEmailForm(body);
  };
  panel_.FlashButtonClick(chosenType(), greeting_->text().toStdString(), width, fastEmail);
  favourites_->refresh();
}

void CommunicationsTab::InviteBtnClick() {
  auto& list = *kv_.Favourites1;
  const int focused = list.ItemIndex();
  if (focused < 0 || focused >= list.Count()) return;
  if (shell_) shell_->OpenLink(outgoing::InvitationLink(list.Items(focused)));
}

}  // namespace kelvrin::gui
