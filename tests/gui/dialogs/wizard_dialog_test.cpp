// The settings wizard's window over its logic: it shows the fields, hands
// edits back only on Finish, and stays answering while a login test waits
// for a slow server.

#include "gui/dialogs/wizard_dialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "app/account_probe.h"
#include "gui/dialogs/dialog_driver.h"
#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "settings/forms.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace gui = kelvrin::gui;
namespace settings = kelvrin::settings;

namespace {

struct QtPump final : kelvrin::protocols::EventPump {
  void ProcessEvents() override { QCoreApplication::processEvents(); }
};

struct Fixture {
  kelvrin::test::TempDir home;
  std::unique_ptr<settings::Form> fields = settings::makeKVWForm1Form();
  kelvrin::filter::TEditListBox allow, banSubject, banEM;
  settings::IniFile file{std::filesystem::path(home.Path()) / "kelvrin.ini"};
  settings::WizardHost host;
  settings::TKVWForm1 logic{*fields, allow, file, host, [] { return false; }};
  std::unique_ptr<gui::WizardDialog> dialog;

  Fixture() {
    fields->setText("KVWMainEmail1", "me@isp.net");
    fields->setText("KVWEdhost", "pop3.isp.net");
    fields->setText("KVWedUser", "bob");
    logic.FormCreate();
    dialog = std::make_unique<gui::WizardDialog>(
        logic, gui::WizardDialog::Lists{allow, banSubject, banEM});
  }
  QLineEdit* line(QDialog* d, const char* name) { return d->findChild<QLineEdit*>(name); }
  QPushButton* button(QDialog* d, const char* name) { return d->findChild<QPushButton*>(name); }
};

}  // namespace

class WizardDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void showsTheFieldsAndStoresEditsOnlyOnFinish_data() {
    QTest::addColumn<bool>("finish");
    QTest::newRow("Finish") << true;
    QTest::newRow("Cancel") << false;
  }
  void showsTheFieldsAndStoresEditsOnlyOnFinish() {
    QFETCH(bool, finish);
    Fixture f;
    QString shownHost;
    QString hint;
    kelvrin::test::ModalDriver driver([&](QDialog* d) {
      shownHost = f.line(d, "KVWEdhost")->text();
      hint = f.line(d, "KVWMainEmail1")->toolTip();
      QLineEdit* user = f.line(d, "KVWedUser");
      user->selectAll();
      QTest::keyClicks(user, "alice");
      QLineEdit* port = f.line(d, "PopPort");
      port->selectAll();
      QTest::keyClicks(port, "995");
      QTest::mouseClick(f.button(d, finish ? "FinishBtn" : "CancelBtn"), Qt::LeftButton);
    });
    const int result = f.dialog->showModal();
    QVERIFY(!driver.leftOpen());
    QCOMPARE(shownHost, QStringLiteral("pop3.isp.net"));
    QVERIFY(hint.contains(QStringLiteral("This MUST be entered")));
    QCOMPARE(result, finish ? 1 : 2);
    QCOMPARE(f.fields->text("KVWedUser"), std::string(finish ? "alice" : "bob"));
    // The port proposed implicit TLS on the way.
    QCOMPARE(f.fields->value("PopSecurity"), finish ? settings::kSecurityImplicitTls : 0);
  }

  void aRefusedFinishKeepsTheWindowOpenOnTheField() {
    Fixture f;
    f.fields->setText("SmtpPort", "70000");
    bool stillOpen = false;
    QString tab;
    kelvrin::test::ModalDriver driver([&](QDialog* d) {
      QTest::mouseClick(f.button(d, "FinishBtn"), Qt::LeftButton);
      stillOpen = d->isVisible();
      auto* tabs = d->findChild<QTabWidget*>();
      tab = tabs->tabText(tabs->currentIndex());
      QTest::mouseClick(f.button(d, "CancelBtn"), Qt::LeftButton);
    });
    QCOMPARE(f.dialog->showModal(), 2);
    QVERIFY(stillOpen);
    QCOMPARE(tab, QStringLiteral("Connect"));
  }

  void answersWhileALoginTestWaitsAndStopEndsIt() {
    Fixture f;
    kelvrin::test::ScriptedServer server("S: +OK ready\nC: USER bob\nP: 2000\nS: +OK\n");
    f.fields->setText("KVWEdhost", "127.0.0.1");
    f.fields->setText("PopPort", server.PortText());
    f.fields->setText("KVWsmtphost", "");
    QtPump pump;
    kelvrin::app::AccountProbe probe({}, pump, kelvrin::protocols::DefaultClock());
    f.dialog->setTestSettings([&](const settings::Form& draft) { return probe.run(draft).text(); },
                              [&] { probe.abort(); });

    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QPushButton* stop = nullptr;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      // Ticks only count while the test runs; a few of them, then Stop.
      if (!probe.running()) return;
      if (++ticks == 5 && stop != nullptr) stop->click();
    });
    QString result;
    kelvrin::test::ModalDriver driver([&](QDialog* d) {
      stop = f.button(d, "StopTest");
      timer.start();
      QTest::mouseClick(f.button(d, "TestSettings"), Qt::LeftButton);
      result = d->findChild<QLabel*>("TestResult")->text();
      QTest::mouseClick(f.button(d, "CancelBtn"), Qt::LeftButton);
    });
    QCOMPARE(f.dialog->showModal(), 2);
    QVERIFY(ticks >= 5);
    QCOMPARE(result, QStringLiteral("POP3: stopped"));
  }
  void theRecorderReachesTheDraftAndTheTestButton() {
    Fixture f;
    std::string testedMacro, testedCodes;
    f.dialog->setTestKey(
        [&](const std::string& macro, const std::string& codes, const std::string&) {
          testedMacro = macro;
          testedCodes = codes;
          return true;  // the Test asks for the field to be emptied
        });
    QString afterTest;
    kelvrin::test::ModalDriver driver([&](QDialog* d) {
      QLineEdit* macro = f.line(d, "MacroEdit1");
      // A click starts a recording: the field drops what it showed.
      QTest::mouseClick(macro, Qt::LeftButton);
      QTest::keyClick(macro, Qt::Key_F9);
      f.button(d, "TestKey1")->click();
      afterTest = macro->text();
      QTest::keyClick(macro, Qt::Key_F9);
      QTest::mouseClick(f.button(d, "FinishBtn"), Qt::LeftButton);
    });
    QCOMPARE(f.dialog->showModal(), 1);
    QCOMPARE(testedMacro, std::string("x"));
    QCOMPARE(testedCodes.size(), std::size_t{1});
    QVERIFY(afterTest.isEmpty());
    // A key recorded after the Test is what Finish stores.
    QCOMPARE(f.fields->text("MacroEdit1"), std::string("x"));
  }
};

QTEST_MAIN(WizardDialogTest)
#include "wizard_dialog_test.moc"
