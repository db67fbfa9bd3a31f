// The window drives the core's timers: the scheduler starts a requested
// check, the idle timer runs the idle action once the user has been away
// long enough (and input to our windows keeps it off), and every blink of
// the "You have mail" label is counted.

#include <QKeyEvent>
#include <QWindow>
#include <QtTest>

#include "app/kvmain.h"
#include "gui/window/core_fixture.h"
#include "gui/window/main_window.h"
#include "platform/qt_desktop_port.h"

using kelvrin::gui::MainWindow;
using kelvrin::test::CoreFixture;

namespace {

constexpr int kWaitMs = 5000;

}  // namespace

class WindowTimersTest : public QObject {
  Q_OBJECT

 private slots:
  void theSchedulerStartsARequestedCheck() {
    CoreFixture core(3);
    MainWindow window(*core.kv);
    QVERIFY(core.kv->ETimer2.Enabled());
    core.kv->ETimer2.setInterval(10);
    core.kv->btOpenClick();
    QVERIFY(core.kv->State.CheckRequested);
    QTRY_VERIFY_WITH_TIMEOUT(!core.kv->State.CheckRequested && core.kv->State.ValidCount > 0,
                             kWaitMs);
  }

  void theIdleActionWaitsForTheUsersAbsence_data() {
    QTest::addColumn<bool>("inputAfterwards");
    QTest::newRow("away: the panel comes to the front") << false;
    QTest::newRow("a key to our window: still present") << true;
  }

  void theIdleActionWaitsForTheUsersAbsence() {
    QFETCH(bool, inputAfterwards);
    CoreFixture core(3);
    MainWindow window(*core.kv);
    kelvrin::platform::InputWatch watch([&core] { core.kv->inputSeen(); });
    core.kv->KVWForm1->setValue("IdleSecs1", 60);
    core.kv->KVmain->setChecked("Invasive1", true);
    core.check();
    QVERIFY(core.kv->State.ValidCount > 0);
    core.clock.now += 120000;
    if (inputAfterwards) {
      QWindow ours;
      QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
      QCoreApplication::sendEvent(&ours, &key);
    }
    core.kv->SnoozeTimer.setInterval(10);
    core.kv->SnoozeTimer.setEnabled(true);
    if (inputAfterwards) {
      // Enough ticks of the idle timer for a wrong idle action to happen.
      QTest::qWait(200);
      QCOMPARE(core.kv->State.SnoozeState, 0);
      QVERIFY(!core.kv->YHMGroupBox1.InFront);
    } else {
      QTRY_COMPARE_WITH_TIMEOUT(core.kv->State.SnoozeState, 1, kWaitMs);
      QVERIFY(core.kv->YHMGroupBox1.InFront);
      QVERIFY(core.kv->YHMGroupBox1.Blink);
      QVERIFY(window.youHaveMailInFront());
    }
  }

  void everyBlinkIsCounted() {
    CoreFixture core(0);
    MainWindow window(*core.kv);
    core.kv->YHMGroupBox1.BlinkCount = 0;
    core.kv->YHMGroupBox1.Blink = true;
    QTRY_VERIFY_WITH_TIMEOUT(core.kv->YHMGroupBox1.BlinkCount >= 2, kWaitMs);
    core.kv->YHMGroupBox1.Blink = false;
    const int counted = core.kv->YHMGroupBox1.BlinkCount;
    QTest::qWait(2 * kelvrin::notify::YouHaveMailPanel::BlinkInterval + 100);
    QCOMPARE(core.kv->YHMGroupBox1.BlinkCount, counted);
  }
};

QTEST_MAIN(WindowTimersTest)
#include "window_timers_test.moc"
