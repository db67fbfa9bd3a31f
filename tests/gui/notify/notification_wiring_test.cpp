// The program's notifications wired to the core, against the mock
// notification service on a private bus: after a check that marked spam the
// new-mail notification offers "Delete spam", and that action deletes
// exactly the marked messages on the server.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <set>
#include <string>

#include "gui/program/tray_hook.h"
#include "gui/tray/tray_icon_view.h"
#include "gui/window/core_fixture.h"
#include "platform/dbus_notifications.h"

namespace notify = kelvrin::notify;
namespace platform = kelvrin::platform;
using kelvrin::test::CoreFixture;

namespace {

constexpr int kWaitMs = 10000;
const QString kBusName = QStringLiteral("kelvrin-wiring-test");

// Counts what the core asks of the window.
struct CountingWindow final : kelvrin::app::WindowPort {
  void ShowWindowFromTray() override { ++shown; }
  int shown = 0;
};

}  // namespace

class NotificationWiringTest : public QObject {
  Q_OBJECT

 private:
  QProcess bus_;
  QProcess mock_;

  QDBusConnection connection() const { return QDBusConnection(kBusName); }

  void invoke(uint id, const char* key) {
    QDBusMessage emit_ = QDBusMessage::createMethodCall(
        QString::fromLatin1(platform::DBusNotifications::kService),
        QString::fromLatin1(platform::DBusNotifications::kPath),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    emit_ << QString::fromLatin1(platform::DBusNotifications::kService)
          << QStringLiteral("ActionInvoked") << QStringLiteral("us")
          << QVariantList{QVariant::fromValue(QDBusVariant(id)),
                          QVariant::fromValue(QDBusVariant(QString::fromLatin1(key)))};
    QCOMPARE(connection().call(emit_).type(), QDBusMessage::ReplyMessage);
  }

 private slots:
  void initTestCase() {
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
    if (!probe.waitForFinished(kWaitMs) || probe.exitCode() != 0) {
      QSKIP("python3-dbusmock is not installed");
    }
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address")});
    QVERIFY(bus_.waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(bus_.canReadLine(), kWaitMs);
    const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
    QVERIFY(QDBusConnection::connectToBus(address, kBusName).isConnected());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    mock_.setProcessEnvironment(env);
    mock_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock_.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                 QStringLiteral("notification_daemon"), QStringLiteral("-p"),
                 QStringLiteral("{\"capabilities\": \"body actions\"}")});
    QVERIFY(mock_.waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(connection().interface()->isServiceRegistered(
                                 QString::fromLatin1(platform::DBusNotifications::kService)),
                             kWaitMs);
  }

  void cleanupTestCase() {
    for (QProcess* p : {&mock_, &bus_}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(kWaitMs)) p->kill();
    }
    QDBusConnection::disconnectFromBus(kBusName);
  }

  // A flash message waiting for its answer tells the two apart: the balloon
  // click answers it, "Open" only shows the window.
  void theBodyIsTheBalloonClickAndOpenShowsTheWindow_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("flashPendingAfter");
    QTest::addColumn<bool>("windowShown");
    QTest::newRow("the body: the balloon click") << "default" << false << false;
    QTest::newRow("Open") << "open" << true << true;
  }

  void theBodyIsTheBalloonClickAndOpenShowsTheWindow() {
    QFETCH(QString, key);
    QFETCH(bool, flashPendingAfter);
    QFETCH(bool, windowShown);
    CoreFixture core(3);
    auto port = std::make_unique<CountingWindow>();
    CountingWindow& window = *port;
    core.kv->setWindowPort(std::move(port));
    core.kv->State.MainWindowVisible = false;
    core.check();
    core.kv->State.FlashPending = true;

    kelvrin::gui::TrayIconView view(core.kv->TrayIcon1, nullptr);
    platform::DBusNotifications notifications(connection());
    kelvrin::gui::wireNotifications(*core.kv, view, notifications);
    QTRY_VERIFY_WITH_TIMEOUT(notifications.capabilitiesKnown(), kWaitMs);
    QSignalSpy notified(&notifications, &platform::DBusNotifications::notified);
    QVERIFY(view.showNotification(QStringLiteral("Kelvrin"), QStringLiteral("Friend: message v1"),
                                  notify::BalloonIcon::Info, 5));
    QTRY_COMPARE_WITH_TIMEOUT(notified.count(), 1, kWaitMs);
    const int shownBefore = window.shown;
    invoke(notified.first().first().toUInt(), qPrintable(key));
    QTRY_VERIFY_WITH_TIMEOUT(!core.kv->State.FlashPending || window.shown > shownBefore, kWaitMs);
    QCOMPARE(bool(core.kv->State.FlashPending), flashPendingAfter);
    QCOMPARE(window.shown > shownBefore, windowShown);
    QCOMPARE(bool(core.kv->State.MainWindowVisible), windowShown);
  }

  void deleteSpamDeletesExactlyTheMarkedMessages() {
    CoreFixture core(9);
    core.check();
    QVERIFY(core.kv->State.SpamCount > 0);

    kelvrin::gui::TrayIconView view(core.kv->TrayIcon1, nullptr);
    platform::DBusNotifications notifications(connection());
    kelvrin::gui::wireNotifications(*core.kv, view, notifications);
    QTRY_VERIFY_WITH_TIMEOUT(notifications.capabilitiesKnown(), kWaitMs);
    QVERIFY(notifications.actionsFor(notify::BalloonIcon::Info)
                .contains(QString::fromLatin1(platform::DBusNotifications::kDeleteSpamAction)));

    QSignalSpy notified(&notifications, &platform::DBusNotifications::notified);
    QVERIFY(view.showNotification(QStringLiteral("Kelvrin"), QStringLiteral("Friend: message v1"),
                                  notify::BalloonIcon::Info, 5));
    QTRY_COMPARE_WITH_TIMEOUT(notified.count(), 1, kWaitMs);

    std::set<std::string> spam;
    for (const auto& m : core.mailbox.mailbox) {
      if (m.spam) spam.insert(m.id);
    }
    invoke(notified.first().first().toUInt(), platform::DBusNotifications::kDeleteSpamAction);

    const auto deleted = [&] {
      std::set<std::string> ids;
      for (const auto& d : core.mailbox.Deles()) {
        if (d.accepted) ids.insert(d.id);
      }
      return ids;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!deleted().empty(), kWaitMs);
    QTest::qWait(200);
    QCOMPARE(deleted(), spam);
  }
};

QTEST_MAIN(NotificationWiringTest)
#include "notification_wiring_test.moc"
