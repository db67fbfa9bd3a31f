#include "gui/dialogs/quick_mail_dialog.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include "gui/dialogs/lookup_combo_box.h"
#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

namespace {

constexpr const char* kAddressHint =
    "To add a new address to dropdown list press [Enter]\n"
    "To select a previous stored address select/click in the dropdown list.\n"
    "To delete an item from the dropdown list  [Ctrl]+click (item)\n"
    "            To clear the dropdown list [Ctrl]+click (edit box)";
constexpr const char* kBodyHint =
    "Click in here to clear, then type your message body. After finished, and ready to send, "
    "click [OK]";
constexpr const char* kWarningText = "Security Warning - multi-Addressee (all addressess visible)";

}  // namespace

TKVemForm1::TKVemForm1(const settings::IniFile& settingsFile, const std::string& ownAddress,
                       bool hints, std::shared_ptr<std::string> lastTyped, QWidget* owner)
    : QDialog(owner) {
  setObjectName(QStringLiteral("KVemForm1"));
  setWindowTitle(qtText(outgoing::kQuickMailCaption));
  setModal(true);

  from_ = new TLookUpComboBox(this);
  from_->setObjectName(QStringLiteral("ComboBox1"));
  to_ = new TLookUpComboBox(this);
  to_->setObjectName(QStringLiteral("ComboBox2"));
  for (TLookUpComboBox* box : {from_, to_}) {
    box->setEscapeRestores(false);  // Esc closes the form
    box->setHistory(
        std::make_unique<outgoing::AddressHistory>(settingsFile, box->objectName().toStdString()),
        ownAddress, lastTyped);
    if (hints) box->setToolTip(QString::fromLatin1(kAddressHint));
    connect(box, &TLookUpComboBox::left, this, [this, box] { addressBoxLeft(box); });
  }
  from_->setEditText(qtText(ownAddress));

  subject_ = new QLineEdit(this);
  subject_->setObjectName(QStringLiteral("Subject1"));
  body_ = new QPlainTextEdit(this);
  body_->setObjectName(QStringLiteral("Memo1"));
  body_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  body_->setPlainText(QString::fromLatin1(outgoing::kBodyPlaceholder));
  body_->setTabChangesFocus(true);
  if (hints) body_->setToolTip(QString::fromLatin1(kBodyHint));
  body_->viewport()->installEventFilter(this);

  ok_ = new QPushButton(tr("&OK"), this);
  ok_->setObjectName(QStringLiteral("OKbtn1"));
  cancel_ = new QPushButton(tr("&Cancel"), this);
  cancel_->setObjectName(QStringLiteral("Cancelbtn"));
  // Enter confirms an address in the boxes; it never sends the mail.
  for (QPushButton* button : {ok_, cancel_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  warning_ = new QLabel(QString::fromLatin1(kWarningText), this);
  warning_->setObjectName(QStringLiteral("AddsWarn1"));
  warning_->setStyleSheet(QStringLiteral("QLabel { color: red; font-weight: bold; }"));
  warning_->hide();

  auto* grid = new QGridLayout;
  auto* fromLabel = new QLabel(tr("From:"), this);
  toLabel_ = new QLabel(tr("To:"), this);
  toLabel_->setObjectName(QStringLiteral("Label2"));
  auto* subjectLabel = new QLabel(tr("Subject:"), this);
  auto* bodyLabel = new QLabel(tr("Body:"), this);
  fromLabel->setBuddy(from_);
  toLabel_->setBuddy(to_);
  subjectLabel->setBuddy(subject_);
  bodyLabel->setBuddy(body_);
  grid->addWidget(fromLabel, 0, 0);
  grid->addWidget(from_, 0, 1);
  grid->addWidget(toLabel_, 1, 0);
  grid->addWidget(to_, 1, 1);
  grid->addWidget(subjectLabel, 2, 0);
  grid->addWidget(subject_, 2, 1);
  grid->addWidget(bodyLabel, 3, 0, Qt::AlignTop);
  grid->addWidget(body_, 3, 1);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(3, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(warning_, 1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid, 1);
  layout->addLayout(buttons);

  setTabOrder(from_, to_);
  setTabOrder(to_, subject_);
  setTabOrder(subject_, body_);
  setTabOrder(body_, ok_);
  setTabOrder(ok_, cancel_);
  resize(520, 380);
}

TKVemForm1::~TKVemForm1() = default;

void TKVemForm1::setFields(const outgoing::QuickMailFields& fields) {
  from_->setEditText(qtText(fields.From));
  to_->setEditText(qtText(fields.To));
  subject_->setText(qtText(fields.Subject));
  body_->setPlainText(qtText(fields.Body));
  QTextCursor start = body_->textCursor();
  start.movePosition(QTextCursor::Start);
  body_->setTextCursor(start);
}

outgoing::QuickMailFields TKVemForm1::fields() const {
  outgoing::QuickMailFields f;
  f.From = coreText(from_->currentText());
  f.To = coreText(to_->currentText());
  f.Subject = coreText(subject_->text());
  f.Body = coreText(body_->toPlainText());
  return f;
}

void TKVemForm1::hideRecipients() {
  toLabel_->hide();
  to_->hide();
  warning_->hide();
  subject_->show();
}

void TKVemForm1::showMultiAddressWarning(bool shown) {
  warning_->setVisible(shown);
}

void TKVemForm1::addressBoxLeft(TLookUpComboBox* box) {
  if (outgoing::ShowsMultiAddressWarning(coreText(box->currentText()))) warning_->show();
}

bool TKVemForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == body_->viewport() && event->type() == QEvent::MouseButtonPress &&
      body_->toPlainText().contains(QString::fromLatin1(outgoing::kBodyPlaceholder))) {
    body_->clear();
    body_->setFocus(Qt::MouseFocusReason);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace kelvrin::gui
