// The mail program's hot-key on a real X server: a private Xvfb with the jwm
// window manager and two stand-in programs. Send/Receive must raise the one
// whose title matches (without regard to case) and give it exactly the
// recorded keys as ordinary key events; a title that matches no window must
// send nothing; without an X11 session the command only says why.
//
// Skipped when Xvfb, jwm or xprop is not installed (packages xvfb jwm
// x11-utils). Every
// process started here is stopped by its PID.

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/kvmain.h"
#include "platform/x11_key_sender.h"
#include "platform/x11_mail_program.h"
#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "settings/sendkeys.h"
#include "ui/prompter.h"

namespace {

namespace app = kelvrin::app;
namespace ui = kelvrin::ui;

struct Child {
  std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
  QByteArray output;

  ~Child() { stop(); }
  void stop() {
    if (process->state() == QProcess::NotRunning) return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
      process->kill();
      process->waitForFinished(5000);
    }
  }
  QStringList lines() {
    output += process->readAllStandardOutput();
    return QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  QStringList keys() {
    QStringList out;
    for (const QString& l : lines()) {
      if (l.startsWith(QStringLiteral("press ")) || l.startsWith(QStringLiteral("release ")))
        out << l;
    }
    return out;
  }
};

// Remembers the texts of the boxes; every box is answered with its default.
class RecordingPrompter : public ui::Prompter {
 public:
  QStringList texts;

 protected:
  int showMessageBox(const ui::MessageBoxSpec& spec) override {
    texts << QString::fromStdString(spec.text);
    return spec.buttons.empty() ? 0 : spec.buttons[spec.defaultButton].result;
  }
  std::string showInputDialog(const ui::InputDialogSpec&) override { return {}; }
  void showProgressBox(const ui::ProgressBoxSpec&) override {}
  void updateProgressBox(int) override {}
  void hideProgressBox() override {}
  void playSound(const ui::BoxSound&) override {}
};

// The main window after a check that listed one message and left it on the
// server, with a stored hot-key.
struct Main {
  QTemporaryDir home;
  kelvrin::protocols::NullEventPump pump;
  kelvrin::protocols::SystemClock clock;
  RecordingPrompter prompter;
  std::unique_ptr<app::TKVmain> kv;

  explicit Main(const std::string& emailProg) {
    kv = std::make_unique<app::TKVmain>(app::Ports{{}, pump, clock, prompter},
                                        home.path().toStdString());
    kv->Settings.setKeySetA(
        "\xFC"
        "M");
    kv->Settings.setKeySetB("\xFD");
    kv->Settings.setEmailProg(emailProg);
    kv->VTree1.setRootNodeCount(1);
    kv->Pop3Client1.MessageCount = 1;
    kv->State.MainWindowVisible = true;
  }
};

// What the mail program's window receives for Ctrl then M: real key events,
// not sent ones.
const QStringList kCtrlM = {"press Control_L 0", "press m 0", "release m 0",
                            "release Control_L 0"};

}  // namespace

class HotkeyX11Test : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void sendReceivePlaysTheHotKeyIntoTheMailProgramOnly();
  void aTitleThatMatchesNoWindowSendsNothing();
  void theWizardsTestPlaysTheRecordedKeysAndAsks();
  void withoutAnX11SessionItOnlySaysWhy();

 private:
  void startPeer(Child& peer, const QString& title);

  QTemporaryDir dir_;
  Child xvfb_;
  Child jwm_;
  Child mail_;
  Child other_;
  QString display_;
};

void HotkeyX11Test::initTestCase() {
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  const QString jwm = QStandardPaths::findExecutable("jwm");
  if (xvfb.isEmpty() || jwm.isEmpty() || QStandardPaths::findExecutable("xprop").isEmpty()) {
    QSKIP("needs Xvfb, jwm and xprop (packages xvfb jwm x11-utils)");
  }
  xvfb_.process->start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
  QVERIFY2(xvfb_.process->waitForStarted(10000), "Xvfb did not start");
  QTRY_VERIFY_WITH_TIMEOUT(
      !xvfb_.lines().isEmpty() || xvfb_.process->state() == QProcess::NotRunning, 20000);
  QVERIFY2(!xvfb_.lines().isEmpty(), "Xvfb gave no display number");
  display_ = QStringLiteral(":") + xvfb_.lines().front().trimmed();
  qputenv("DISPLAY", display_.toUtf8());

  QFile config(dir_.filePath("jwmrc"));
  QVERIFY(config.open(QIODevice::WriteOnly));
  config.write("<?xml version=\"1.0\"?>\n<JWM><FocusModel>click</FocusModel></JWM>\n");
  config.close();
  jwm_.process->start(jwm, {"-f", dir_.filePath("jwmrc")});
  QVERIFY2(jwm_.process->waitForStarted(10000), "jwm did not start");
  // Windows mapped before jwm manages the screen would never be activated.
  const auto managing = [] {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
    xprop.waitForFinished(5000);
    return xprop.readAllStandardOutput().contains("window id");
  };
  QTRY_VERIFY_WITH_TIMEOUT(managing(), 20000);
  // The mail program first, another program after it: the mail program is
  // not the one in front when the keys are sent.
  startPeer(mail_, QStringLiteral("Kelvrin Test Mail"));
  startPeer(other_, QStringLiteral("Other Program"));
}

void HotkeyX11Test::startPeer(Child& peer, const QString& title) {
  peer.process->start(QStringLiteral(KELVRIN_X11_KEY_PEER), {title});
  QVERIFY2(peer.process->waitForStarted(10000), "the stand-in program did not start");
  QTRY_VERIFY_WITH_TIMEOUT(peer.lines().contains(QStringLiteral("ready")), 20000);
}

void HotkeyX11Test::cleanupTestCase() {
  mail_.stop();
  other_.stop();
  jwm_.stop();
  xvfb_.stop();
}

void HotkeyX11Test::sendReceivePlaysTheHotKeyIntoTheMailProgramOnly() {
  Main main("kelvrin test MAIL");
  kelvrin::platform::X11MailProgram program;
  program.SendReceive1Click(*main.kv);

  const QStringList expected = kCtrlM;
  QTRY_COMPARE_WITH_TIMEOUT(mail_.keys().size(), expected.size(), 10000);
  // Nothing more arrives after the four.
  QTest::qWait(300);
  QCOMPARE(mail_.keys(), expected);
  QCOMPARE(other_.keys(), QStringList());
  QCOMPARE(main.prompter.texts, QStringList());
  QVERIFY(!main.kv->State.MainWindowVisible);
}

void HotkeyX11Test::aTitleThatMatchesNoWindowSendsNothing() {
  mail_.output.clear();
  other_.output.clear();
  Main main("No Such Program");
  kelvrin::platform::X11MailProgram program;
  program.SendReceive1Click(*main.kv);
  QTest::qWait(500);
  QCOMPARE(mail_.keys(), QStringList());
  QCOMPARE(other_.keys(), QStringList());
  QCOMPARE(main.prompter.texts, QStringList());
}

void HotkeyX11Test::theWizardsTestPlaysTheRecordedKeysAndAsks() {
  mail_.output.clear();
  other_.output.clear();
  Main main("Kelvrin Test Mail");
  main.kv->Settings.setKeySetA("");
  // Ctrl then M as the recorder codes them, into the program named in the
  // wizard's field.
  kelvrin::platform::TestKey1Click(*main.kv, "Ctrl+M",
                                   "\xFC"
                                   "M",
                                   "kelvrin test mail");
  const QStringList expected = kCtrlM;
  QTRY_COMPARE_WITH_TIMEOUT(mail_.keys().size(), expected.size(), 10000);
  QTest::qWait(300);
  QCOMPARE(mail_.keys(), expected);
  QCOMPARE(other_.keys(), QStringList());
  QCOMPARE(main.prompter.texts,
           QStringList{QString::fromUtf8(std::string(kelvrin::settings::kDidItWork).c_str())});
}

void HotkeyX11Test::withoutAnX11SessionItOnlySaysWhy() {
  const QByteArray saved = qgetenv("DISPLAY");
  qunsetenv("DISPLAY");
  Main main("Kelvrin Test Mail");
  kelvrin::platform::X11MailProgram program;
  program.SendReceive1Click(*main.kv);
  qputenv("DISPLAY", saved);
  QCOMPARE(main.prompter.texts, QStringList{QString::fromUtf8(kelvrin::platform::kNeedsX11Text)});
  // Not minimised, nothing deleted, the session left alone.
  QVERIFY(main.kv->State.MainWindowVisible);
}

QTEST_GUILESS_MAIN(HotkeyX11Test)
#include "hotkey_x11_test.moc"
