#include "gui/dialogs/wizard_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <climits>

#include "gui/dialogs/edit_list_box_widget.h"
#include "gui/dialogs/macro_edit.h"
#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

namespace {

// The hints are written with CR LF line ends.
QString hintText(std::string_view hint) {
  QString text = qtText(hint);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return text;
}

bool isOneOf(const QString& name, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (name == QLatin1String(n)) return true;
  }
  return false;
}

}  // namespace

WizardDialog::WizardDialog(settings::TKVWForm1& wizard, Lists lists, QWidget* parent)
    : QDialog(parent), wizard_(wizard), lists_(lists) {
  setObjectName(QStringLiteral("KVWForm1"));
  setWindowTitle(QString::fromLatin1(settings::kWizardCaption));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  for (int i = 0; i < static_cast<int>(settings::kWizardPages.size()); ++i) {
    tabs_->addTab(makePage(i), QString::fromLatin1(settings::kWizardPages[i].tab));
  }
  layout->addWidget(tabs_);
  connect(tabs_->tabBar(), &QTabBar::tabBarClicked, this, [this](int index) {
    if (!rendering_) wizard_.selectTab(index);
  });

  auto* buttons = new QHBoxLayout;
  back_ = new QPushButton(tr("< &Back"), this);
  next_ = new QPushButton(tr("&Next >"), this);
  finish_ = new QPushButton(tr("&Finish"), this);
  cancel_ = new QPushButton(tr("Cancel"), this);
  back_->setObjectName(QStringLiteral("BackBtn"));
  next_->setObjectName(QStringLiteral("NextBtn"));
  finish_->setObjectName(QStringLiteral("FinishBtn"));
  cancel_->setObjectName(QStringLiteral("CancelBtn"));
  buttons->addStretch();
  for (auto* b : {back_, next_, finish_, cancel_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  connect(back_, &QPushButton::clicked, this, [this] { wizard_.BackBtnClick(); });
  connect(next_, &QPushButton::clicked, this, [this] { wizard_.NextBtnClick(); });
  connect(finish_, &QPushButton::clicked, this, &WizardDialog::finish);
  connect(cancel_, &QPushButton::clicked, this, &WizardDialog::reject);

  wizard_.setOnChanged([this] { render(); });
  setHintsShown(true);
  render();
}

WizardDialog::~WizardDialog() {
  wizard_.setOnChanged({});
}

QLineEdit* WizardDialog::addLine(QWidget* page, const char* name, const QString& label,
                                 QLineEdit* edit) {
  if (edit == nullptr) edit = new QLineEdit(page);
  edit->setObjectName(QString::fromLatin1(name));
  static_cast<QFormLayout*>(page->layout())->addRow(label, edit);
  lines_.insert(edit->objectName(), edit);
  edit->installEventFilter(this);
  connect(edit, &QLineEdit::textEdited, this, [this, edit](const QString& text) {
    wizard_.setText(edit->objectName().toStdString(), coreText(text));
  });
  const QString n = edit->objectName();
  if (isOneOf(n, {"KVWEdhost", "KVWsecEdhost"})) {
    connect(edit, &QLineEdit::editingFinished, this,
            [this, n] { wizard_.KVWEdhostExit(n.toStdString()); });
  } else if (n == QLatin1String("KVWMainEmail1")) {
    connect(edit, &QLineEdit::editingFinished, this, [this] { wizard_.KVWMainEmail1Exit(); });
  }
  return edit;
}

QSpinBox* WizardDialog::addNumber(QWidget* page, const char* name, const QString& label) {
  auto* spin = new QSpinBox(page);
  spin->setObjectName(QString::fromLatin1(name));
  const auto range = settings::TKVWForm1::numberRange(name);
  spin->setRange(range.min, range.max < 0 ? INT_MAX : range.max);
  spin->setSingleStep(range.step);
  static_cast<QFormLayout*>(page->layout())->addRow(label, spin);
  numbers_.insert(spin->objectName(), spin);
  connect(spin, &QSpinBox::valueChanged, this, [this, spin](int value) {
    if (!rendering_) wizard_.setNumber(spin->objectName().toStdString(), value);
  });
  return spin;
}

QCheckBox* WizardDialog::addCheck(QWidget* page, const char* name, const QString& label) {
  auto* check = new QCheckBox(label, page);
  check->setObjectName(QString::fromLatin1(name));
  static_cast<QFormLayout*>(page->layout())->addRow(check);
  checks_.insert(check->objectName(), check);
  connect(check, &QCheckBox::toggled, this, [this, check](bool on) {
    if (!rendering_) wizard_.setChecked(check->objectName().toStdString(), on);
  });
  return check;
}

QComboBox* WizardDialog::addSecurity(QWidget* page, const char* name, const QString& label) {
  auto* combo = new QComboBox(page);
  combo->setObjectName(QString::fromLatin1(name));
  combo->addItems({tr("None"), tr("STARTTLS"), tr("TLS")});
  static_cast<QFormLayout*>(page->layout())->addRow(label, combo);
  securities_.insert(combo->objectName(), combo);
  connect(combo, &QComboBox::activated, this, [this, combo](int index) {
    wizard_.setSecurity(combo->objectName().toStdString(), index);
  });
  return combo;
}

QWidget* WizardDialog::makePage(int index) {
  auto* page = new QWidget;
  page->setObjectName(QString::fromLatin1(settings::kWizardPages[index].sheet));
  auto* form = new QFormLayout(page);
  if (*settings::kWizardPages[index].heading != '\0') {
    auto* heading = new QLabel(QString::fromLatin1(settings::kWizardPages[index].heading), page);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    heading->setFont(font);
    form->addRow(heading);
  }
  switch (index) {
    case settings::kPageAddress:
      form->addRow(new QLabel(tr("Welcome to Kelvrin. It screens your mailbox on the server and "
                                 "deletes spam before your mail program collects your mail."),
                              page));
      form->addRow(new QLabel(
          tr("Click below, and enter your Main Internet Email Address used to contact you."),
          page));
      addLine(page, "KVWMainEmail1", tr("Main address"));
      break;
    case settings::kPageEmailClient: {
      addLine(page, "EmailProg1", tr("Mail program"));
      macroEdit_ = new MacroEdit(page);
      addLine(page, "MacroEdit1", tr("Send/Receive key"), macroEdit_)
          ->setEchoMode(QLineEdit::Password);
      // The recorder writes its display text itself, not as an edit.
      connect(macroEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!rendering_) wizard_.setText("MacroEdit1", coreText(text));
      });
      auto* test = new QPushButton(tr("&Test"), page);
      test->setObjectName(QStringLiteral("TestKey1"));
      form->addRow(test);
      connect(test, &QPushButton::clicked, this, [this] {
        if (!testKey_) return;
        const auto& draft = wizard_.draft();
        if (testKey_(draft.text("MacroEdit1"), macroEdit_->codes(), draft.text("EmailProg1"))) {
          macroEdit_->clearRecording();
          wizard_.setText("MacroEdit1", "");
        }
      });
      break;
    }
    case settings::kPageServer:
      addLine(page, "KVWEdhost", tr("POP3 host"));
      addLine(page, "KVWsmtphost", tr("SMTP host"));
      addLine(page, "KVWsecEdhost", tr("Secondary POP3 host"));
      addLine(page, "KVWsecsmtphost", tr("Secondary SMTP host"));
      break;
    case settings::kPageLogin: {
      addLine(page, "KVWedUser", tr("User name"));
      addLine(page, "KVWedPassword", tr("Password"))->setEchoMode(QLineEdit::Password);
      addLine(page, "KVWsecedUser", tr("Secondary user name"));
      addLine(page, "KVWSecEdPassword", tr("Secondary password"))->setEchoMode(QLineEdit::Password);
      auto* row = new QHBoxLayout;
      testSettingsButton_ = new QPushButton(tr("Test settings"), page);
      testSettingsButton_->setObjectName(QStringLiteral("TestSettings"));
      stopTestButton_ = new QPushButton(tr("Stop test"), page);
      stopTestButton_->setObjectName(QStringLiteral("StopTest"));
      row->addWidget(testSettingsButton_);
      row->addWidget(stopTestButton_);
      form->addRow(row);
      testResult_ = new QLabel(page);
      testResult_->setObjectName(QStringLiteral("TestResult"));
      testResult_->setWordWrap(true);
      form->addRow(testResult_);
      connect(testSettingsButton_, &QPushButton::clicked, this, &WizardDialog::runTest);
      connect(stopTestButton_, &QPushButton::clicked, this, [this] {
        if (stopTest_) stopTest_();
      });
      break;
    }
    case settings::kPageConnect: {
      auto* group = new QGroupBox(tr("Connection Type"), page);
      group->setObjectName(QStringLiteral("KVWccntypeGroup"));
      auto* groupLayout = new QHBoxLayout(group);
      cable_ = new QRadioButton(tr("Cable/ADSL"), group);
      dialUp_ = new QRadioButton(tr("Dial-Up-Network"), group);
      groupLayout->addWidget(cable_);
      groupLayout->addWidget(dialUp_);
      form->addRow(group);
      connect(cable_, &QRadioButton::clicked, this, [this] { wizard_.KVWccntypeGroupClick(0); });
      connect(dialUp_, &QRadioButton::clicked, this, [this] { wizard_.KVWccntypeGroupClick(1); });
      addLine(page, "PopPort", tr("POP3 port"))->setMaxLength(5);
      addSecurity(page, "PopSecurity", tr("POP3 security"));
      addLine(page, "SmtpPort", tr("SMTP port"))->setMaxLength(5);
      addSecurity(page, "SmtpSecurity", tr("SMTP security"));
      auto* caRow = new QHBoxLayout;
      auto* ca = new QLineEdit(page);
      ca->setObjectName(QStringLiteral("CaFile"));
      lines_.insert(ca->objectName(), ca);
      connect(ca, &QLineEdit::textEdited, this,
              [this](const QString& text) { wizard_.setText("CaFile", coreText(text)); });
      auto* browse = new QPushButton(tr("Choose..."), page);
      browse->setObjectName(QStringLiteral("CaFileChoose"));
      caRow->addWidget(ca);
      caRow->addWidget(browse);
      form->addRow(tr("CA file"), caRow);
      connect(browse, &QPushButton::clicked, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, tr("Trusted certificates"), QString(),
                                         tr("Certificates (*.pem *.crt *.cer);;All files (*)"));
        if (!file.isEmpty()) wizard_.setText("CaFile", coreText(file));
      });
      addNumber(page, "Interval1", tr("Mins interval mail check (0= manual)"));
      addCheck(page, "IncInterval1", tr("Incriment interval"));
      idleLabel_ = new QLabel(page);
      idleLabel_->setObjectName(QStringLiteral("IdleLabel"));
      auto* idle = new QSpinBox(page);
      idle->setObjectName(QStringLiteral("IdleSecs1"));
      idle->setRange(0, INT_MAX);
      numbers_.insert(idle->objectName(), idle);
      connect(idle, &QSpinBox::valueChanged, this, [this](int value) {
        if (!rendering_) wizard_.setNumber("IdleSecs1", value);
      });
      form->addRow(idleLabel_, idle);
      dialUpBox_ = new QGroupBox(tr("Optional Dial-up Settings"), page);
      dialUpBox_->setObjectName(QStringLiteral("DialUpBox"));
      auto* dialForm = new QFormLayout(dialUpBox_);
      const char* names[2] = {"KVWServiceComboBox", "KVWsecServiceComboBox"};
      const QString labels[2] = {tr("PRIMARY dial-up service"), tr("optional SECONDARY")};
      for (int i = 0; i < 2; ++i) {
        services_[i] = new QComboBox(dialUpBox_);
        services_[i]->setObjectName(QString::fromLatin1(names[i]));
        dialForm->addRow(labels[i], services_[i]);
        connect(services_[i], &QComboBox::activated, this,
                [this, i](int entry) { wizard_.chooseService(i == 1, entry); });
      }
      for (const char* name : {"Hangup1", "HangupSpam1"}) {
        auto* check = new QCheckBox(dialUpBox_);
        check->setObjectName(QString::fromLatin1(name));
        check->setText(QString::fromLatin1(
            name == std::string_view("Hangup1") ? "Hangup no traffic calls" : "Hangup spam only"));
        dialForm->addRow(check);
        checks_.insert(check->objectName(), check);
        connect(check, &QCheckBox::toggled, this, [this, check](bool on) {
          if (!rendering_) wizard_.setChecked(check->objectName().toStdString(), on);
        });
      }
      form->addRow(dialUpBox_);
      break;
    }
    case settings::kPageAdvanced: {
      addNumber(page, "OnlineInt1", tr("Connected secs interval check"));
      addNumber(page, "SpinEdit2", tr("Heuristic Detect Level"));
      addNumber(page, "SpinEdit3", tr("Fuzzy Detect Level"));
      auto* blank = new QGroupBox(tr("Blank Subject"), page);
      auto* blankLayout = new QHBoxLayout(blank);
      for (const auto& [name, caption] :
           {std::pair{"SpamOnSubject", "Is Spam"}, std::pair{"PossSpamSubj", "Likely Spam"}}) {
        auto* check = new QCheckBox(QString::fromLatin1(caption), blank);
        check->setObjectName(QString::fromLatin1(name));
        blankLayout->addWidget(check);
        checks_.insert(check->objectName(), check);
        connect(check, &QCheckBox::toggled, this, [this, check](bool on) {
          if (!rendering_) wizard_.setChecked(check->objectName().toStdString(), on);
        });
      }
      form->addRow(blank);
      auto* listsRow = new QHBoxLayout;
      filter::TEditListBox* models[3] = {&lists_.lbAllowEM, &lists_.lbBanSubject, &lists_.lbBanEM};
      const char* names[3] = {"lbAllowEM", "lbBanSubject", "lbBanEM"};
      const char* captions[3] = {"Allowed email address", "Banned subject", "Banned email address"};
      for (int i = 0; i < 3; ++i) {
        auto* box = new QGroupBox(QString::fromLatin1(captions[i]), page);
        if (i == 0) {
          box->setObjectName(QStringLiteral("AllowEMbox"));
          allowBox_ = box;
        }
        auto* boxLayout = new QVBoxLayout(box);
        listWidgets_[i] = new EditListBoxWidget(*models[i], box);
        listWidgets_[i]->setObjectName(QString::fromLatin1(names[i]));
        listWidgets_[i]->setListMenu(outgoing::ListMenuOwner::RuleList);
        boxLayout->addWidget(listWidgets_[i]);
        listsRow->addWidget(box);
      }
      form->addRow(listsRow);
      break;
    }
    case settings::kPageFinish:
      form->addRow(new QLabel(tr("Switch off the timed checks of your own mail program, so that "
                                 "Kelvrin screens the mail before it is collected."),
                              page));
      form->addRow(new QLabel(QStringLiteral("For other (optional) preferences, click the OPTIONS "
                                             "tab.\n                  Click [Finish] to complete "
                                             "Setup"),
                              page));
      break;
    default:
      break;
  }
  return page;
}

void WizardDialog::setHintsShown(bool shown) {
  hintsShown_ = shown;
  for (QWidget* widget : findChildren<QWidget*>()) {
    const auto hint = settings::wizardHint(widget->objectName().toStdString());
    if (!hint.empty()) widget->setToolTip(shown ? hintText(hint) : QString());
  }
}

QWidget* WizardDialog::field(const std::string& name) const {
  return findChild<QWidget*>(QString::fromStdString(name));
}

bool WizardDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    const QString n = watched->objectName();
    if (isOneOf(n, {"KVWEdhost", "KVWsecEdhost"})) {
      wizard_.EditClick(n.toStdString());
    } else if (isOneOf(n, {"MacroEdit1", "KVWsmtphost", "KVWsecsmtphost", "KVWedUser",
                           "KVWsecedUser"})) {
      wizard_.KVWClick(n.toStdString());
    } else if (n == QLatin1String("KVWMainEmail1")) {
      wizard_.KVWMainEmail1Click();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void WizardDialog::render() {
  if (rendering_) return;
  rendering_ = true;
  const auto& draft = wizard_.draft();
  tabs_->setCurrentIndex(wizard_.page());
  back_->setEnabled(wizard_.backEnabled());
  next_->setEnabled(wizard_.nextEnabled());
  finish_->setEnabled(wizard_.finishEnabled());
  for (auto it = lines_.begin(); it != lines_.end(); ++it) {
    const QString text = qtText(draft.text(it.key().toStdString()));
    // An edit in progress keeps its caret where it is.
    if (it.value()->text() != text) it.value()->setText(text);
  }
  for (auto it = numbers_.begin(); it != numbers_.end(); ++it) {
    it.value()->setValue(draft.value(it.key().toStdString()));
  }
  for (auto it = checks_.begin(); it != checks_.end(); ++it) {
    it.value()->setChecked(draft.checked(it.key().toStdString()));
  }
  for (auto it = securities_.begin(); it != securities_.end(); ++it) {
    it.value()->setCurrentIndex(draft.value(it.key().toStdString()));
  }
  QFont font = lines_.value(QStringLiteral("KVWMainEmail1"))->font();
  font.setBold(wizard_.addressBold());
  lines_.value(QStringLiteral("KVWMainEmail1"))->setFont(font);
  const bool dial = wizard_.dialUpBoxVisible();
  cable_->setChecked(!dial);
  dialUp_->setChecked(dial);
  dialUpBox_->setVisible(dial);
  idleLabel_->setText(qtText(wizard_.idleLabel()));
  allowBox_->setVisible(true);
  const settings::ServiceList* lists[2] = {&wizard_.primaryServices(),
                                           &wizard_.secondaryServices()};
  for (int i = 0; i < 2; ++i) {
    QStringList entries;
    for (const auto& entry : lists[i]->entries)
      entries << qtText(entry);
    QStringList shown;
    for (int j = 0; j < services_[i]->count(); ++j)
      shown << services_[i]->itemText(j);
    if (shown != entries) {
      services_[i]->clear();
      services_[i]->addItems(entries);
    }
    services_[i]->setCurrentIndex(lists[i]->selected);
    services_[i]->setEnabled(lists[i]->enabled);
  }
  for (auto* list : listWidgets_)
    list->refresh();
  testSettingsButton_->setEnabled(!testRunning_ && testSettings_ != nullptr);
  stopTestButton_->setEnabled(testRunning_);
  rendering_ = false;
  const std::string focus = wizard_.takeFocus();
  if (!focus.empty()) {
    if (QWidget* w = field(focus)) w->setFocus();
  }
}

int WizardDialog::showModal() {
  std::vector<std::string> entries;
  if (serviceEntries_) entries = serviceEntries_();
  wizard_.setServiceEntries(entries, !entries.empty());
  wizard_.FormShow();
  testResult_->clear();
  return exec() == QDialog::Accepted ? 1 : 2;
}

void WizardDialog::finish() {
  if (testRunning_) return;
  if (wizard_.FinishBtnClick()) accept();
}

void WizardDialog::reject() {
  // A test that runs is stopped first; the window closes once it returned.
  if (testRunning_) {
    if (stopTest_) stopTest_();
    return;
  }
  wizard_.CancelBtnClick();
  QDialog::reject();
}

void WizardDialog::runTest() {
  if (!testSettings_ || testRunning_) return;
  testRunning_ = true;
  testResult_->setText(tr("Testing..."));
  render();
  std::string result;
  try {
    result = testSettings_(wizard_.draft());
  } catch (const std::exception& e) {
    result = e.what();
  }
  testRunning_ = false;
  testResult_->setText(qtText(result));
  render();
}

}  // namespace kelvrin::gui
