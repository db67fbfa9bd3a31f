// Balloons as desktop notifications, against the notification_daemon mock of
// python3-dbusmock on a private session bus: what one Notify carries, that a
// notification replaces the previous one of its kind, which actions are
// offered and where they lead, and the fallback without a service. Also the
// input watch of the idle measure and the sound files the players load.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>
#include <QtEndian>
#include <QtTest>
#include <memory>

#include "gui/tray/tray_icon_view.h"
#include "notify/tray_icon.h"
#include "platform/dbus_notifications.h"
#include "platform/qt_desktop_port.h"
#include "platform/qt_sound_player.h"

namespace notify = kelvrin::notify;
namespace platform = kelvrin::platform;

namespace {

constexpr int kWaitMs = 10000;
const QString kBusName = QStringLiteral("kelvrin-notifications-test");

bool dbusmockAvailable() {
  QProcess probe;
  probe.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
  return probe.waitForFinished(kWaitMs) && probe.exitStatus() == QProcess::NormalExit &&
         probe.exitCode() == 0;
}

}  // namespace

class NotificationsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QProcess bus_;
  std::unique_ptr<QProcess> mock_;
  QString address_;
  QString log_;
  // The tests of the notification service need the private bus; the others
  // run without it.
  bool busUp_ = false;

  QDBusConnection connection() const { return QDBusConnection(kBusName); }

  // Starts the mock with the capabilities given and waits for its name.
  void startMock(const QString& capabilities) {
    stopMock();
    log_ = dir_.filePath(QStringLiteral("notify-%1.log").arg(QDateTime::currentMSecsSinceEpoch()));
    mock_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    mock_->setProcessEnvironment(env);
    mock_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock_->start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
         QStringLiteral("notification_daemon"), QStringLiteral("-l"), log_, QStringLiteral("-p"),
         QStringLiteral("{\"capabilities\": \"%1\"}").arg(capabilities)});
    QVERIFY(mock_->waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(connection().interface()->isServiceRegistered(
                                 QString::fromLatin1(platform::DBusNotifications::kService)),
                             kWaitMs);
  }

  void stopMock() {
    if (!mock_) return;
    mock_->terminate();
    if (!mock_->waitForFinished(kWaitMs)) mock_->kill();
    mock_.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!connection().interface()->isServiceRegistered(
                                 QString::fromLatin1(platform::DBusNotifications::kService)),
                             kWaitMs);
  }

  // The Notify calls the mock logged. A call starts a line with its time
  // stamp; a body with line breaks goes on over the following lines.
  QStringList notifyCalls() const {
    QFile file(log_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    static const QRegularExpression callStart(QStringLiteral("\\n(?=\\d+\\.\\d+ )"));
    QStringList calls;
    for (const QString& call : QString::fromUtf8(file.readAll()).split(callStart)) {
      if (call.contains(QLatin1String(" Notify "))) calls << call;
    }
    return calls;
  }

  void emitAction(uint id, const QString& key) {
    QDBusMessage emit_ = QDBusMessage::createMethodCall(
        QString::fromLatin1(platform::DBusNotifications::kService),
        QString::fromLatin1(platform::DBusNotifications::kPath),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    emit_ << QString::fromLatin1(platform::DBusNotifications::kService)
          << QStringLiteral("ActionInvoked") << QStringLiteral("us")
          << QVariantList{QVariant::fromValue(QDBusVariant(id)),
                          QVariant::fromValue(QDBusVariant(key))};
    const QDBusMessage reply = connection().call(emit_);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
  }

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void withoutTheServiceTheTrayShowsTheBalloon();
  void oneNotifyCarriesTheSummaryAndTheSenders();
  void aNotificationReplacesThePreviousOfItsKind();
  void actionsAreOfferedOnlyWhereTheServiceListsThem_data();
  void actionsAreOfferedOnlyWhereTheServiceListsThem();
  void eachActionReachesItsHandler_data();
  void eachActionReachesItsHandler();
  void markedUpServicesGetTheTextEscaped();
  void theInputWatchCountsInputToOurWindowsOnce_data();
  void theInputWatchCountsInputToOurWindowsOnce();
  void everySoundIsAShortMonoPcmWave_data();
  void everySoundIsAShortMonoPcmWave();
};

void NotificationsTest::initTestCase() {
  QVERIFY(dir_.isValid());
  if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
  bus_.start(
      QStringLiteral("dbus-daemon"),
      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
  QVERIFY(bus_.waitForStarted(kWaitMs));
  QTRY_VERIFY_WITH_TIMEOUT(bus_.canReadLine(), kWaitMs);
  address_ = QString::fromUtf8(bus_.readLine()).trimmed();
  QVERIFY(!address_.isEmpty());
  QVERIFY(QDBusConnection::connectToBus(address_, kBusName).isConnected());
  busUp_ = true;
}

void NotificationsTest::cleanupTestCase() {
  if (mock_) stopMock();
  if (busUp_) QDBusConnection::disconnectFromBus(kBusName);
  if (bus_.state() != QProcess::NotRunning) {
    bus_.terminate();
    if (!bus_.waitForFinished(kWaitMs)) bus_.kill();
  }
}

void NotificationsTest::withoutTheServiceTheTrayShowsTheBalloon() {
  if (!busUp_) QSKIP("dbus-daemon is not installed");
  if (mock_) stopMock();
  platform::DBusNotifications notifications(connection());
  QVERIFY(!notifications.serviceRunning());
  QVERIFY(!notifications.show(QStringLiteral("Kelvrin"), QStringLiteral("text"),
                              notify::BalloonIcon::Info, 5));

  // The view asks the notifications first and, refused, keeps the balloon
  // for the tray (shown or not, it asked exactly once).
  notify::TrayIconModel model;
  kelvrin::gui::TrayIconView view(model, nullptr);
  int asked = 0;
  view.showNotification = [&](const QString& title, const QString& text, notify::BalloonIcon kind,
                              int secs) {
    ++asked;
    return notifications.show(title, text, kind, secs);
  };
  model.setIconVisible(true);
  model.ShowBalloon("Kelvrin", "1 new", notify::BalloonIcon::Info, 5);
  QCOMPARE(asked, 1);
}

void NotificationsTest::oneNotifyCarriesTheSummaryAndTheSenders() {
  if (!busUp_ || !dbusmockAvailable()) QSKIP("dbus-daemon or python3-dbusmock is not installed");
  startMock(QStringLiteral("body actions"));
  platform::DBusNotifications notifications(connection());
  QTRY_VERIFY_WITH_TIMEOUT(notifications.capabilitiesKnown(), kWaitMs);

  notify::TrayIconModel model;
  kelvrin::gui::TrayIconView view(model, nullptr);
  view.showNotification = [&](const QString& title, const QString& text, notify::BalloonIcon kind,
                              int secs) { return notifications.show(title, text, kind, secs); };
  QSignalSpy notified(&notifications, &platform::DBusNotifications::notified);
  model.setIconVisible(true);
  model.ShowBalloon("Kelvrin: 2 new", "Ann Smith: Lunch\r\nBob Jones: Report",
                    notify::BalloonIcon::Info, 5);
  QTRY_COMPARE_WITH_TIMEOUT(notified.count(), 1, kWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(notifyCalls().size(), 1, kWaitMs);
  const QString call = notifyCalls().first();
  QVERIFY2(call.contains(QLatin1String("Kelvrin: 2 new")), qPrintable(call));
  QVERIFY2(call.contains(QLatin1String("Ann Smith: Lunch")), qPrintable(call));
  QVERIFY2(call.contains(QLatin1String("Bob Jones: Report")), qPrintable(call));
  QVERIFY2(call.contains(QLatin1String("5000")), qPrintable(call));
}

void NotificationsTest::aNotificationReplacesThePreviousOfItsKind() {
  if (!busUp_ || !dbusmockAvailable()) QSKIP("dbus-daemon or python3-dbusmock is not installed");
  startMock(QStringLiteral("body"));
  platform::DBusNotifications notifications(connection());
  QSignalSpy notified(&notifications, &platform::DBusNotifications::notified);
  const auto send = [&](notify::BalloonIcon kind) {
    QVERIFY(notifications.show(QStringLiteral("t"), QStringLiteral("b"), kind, 3));
    const int before = notified.count();
    QTRY_COMPARE_WITH_TIMEOUT(notified.count(), before + 1, kWaitMs);
  };
  send(notify::BalloonIcon::Info);
  const uint first = notified.last().first().toUInt();
  send(notify::BalloonIcon::Info);
  // The mock answers a replacement with the id it replaced.
  QCOMPARE(notified.last().first().toUInt(), first);
  send(notify::BalloonIcon::Warning);
  const uint warning = notified.last().first().toUInt();
  QVERIFY(warning != first);

  // Once closed, the next of its kind is a new notification.
  QDBusMessage close = QDBusMessage::createMethodCall(
      QString::fromLatin1(platform::DBusNotifications::kService),
      QString::fromLatin1(platform::DBusNotifications::kPath),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("CloseNotification"));
  close << static_cast<int>(first);
  QCOMPARE(connection().call(close).type(), QDBusMessage::ReplyMessage);
  QTest::qWait(200);
  send(notify::BalloonIcon::Info);
  const uint next = notified.last().first().toUInt();
  QVERIFY(next != first);
  QVERIFY(next != warning);
}

void NotificationsTest::actionsAreOfferedOnlyWhereTheServiceListsThem_data() {
  QTest::addColumn<QString>("capabilities");
  QTest::addColumn<int>("kind");
  QTest::addColumn<bool>("spam");
  QTest::addColumn<QStringList>("keys");
  const QStringList none;
  QTest::newRow("no actions capability")
      << QStringLiteral("body body-markup") << int(notify::BalloonIcon::Info) << true << none;
  QTest::newRow("new mail, no spam")
      << QStringLiteral("body actions") << int(notify::BalloonIcon::Info) << false
      << QStringList{QStringLiteral("default"), QStringLiteral("open")};
  QTest::newRow("new mail, spam marked")
      << QStringLiteral("body actions") << int(notify::BalloonIcon::Info) << true
      << QStringList{QStringLiteral("default"), QStringLiteral("open"),
                     QStringLiteral("delete-spam")};
  QTest::newRow("a warning is only clicked")
      << QStringLiteral("actions") << int(notify::BalloonIcon::Warning) << true
      << QStringList{QStringLiteral("default")};
}

void NotificationsTest::actionsAreOfferedOnlyWhereTheServiceListsThem() {
  if (!busUp_ || !dbusmockAvailable()) QSKIP("dbus-daemon or python3-dbusmock is not installed");
  QFETCH(QString, capabilities);
  QFETCH(int, kind);
  QFETCH(bool, spam);
  QFETCH(QStringList, keys);
  startMock(capabilities);
  platform::DBusNotifications notifications(connection());
  notifications.spamMarked = [spam] { return spam; };
  QTRY_VERIFY_WITH_TIMEOUT(notifications.capabilitiesKnown(), kWaitMs);
  const QStringList actions = notifications.actionsFor(static_cast<notify::BalloonIcon>(kind));
  QStringList shownKeys;
  for (int i = 0; i < actions.size(); i += 2)
    shownKeys << actions[i];
  QCOMPARE(shownKeys, keys);
  QCOMPARE(actions.size(), keys.size() * 2);
}

void NotificationsTest::eachActionReachesItsHandler_data() {
  QTest::addColumn<QString>("key");
  QTest::addColumn<bool>("foreignId");
  QTest::addColumn<QString>("expected");
  QTest::newRow("the body: the balloon click") << "default" << false << "balloon";
  QTest::newRow("Open") << "open" << false << "open";
  QTest::newRow("Delete spam") << "delete-spam" << false << "delete";
  QTest::newRow("another program's notification") << "default" << true << "";
  QTest::newRow("an unknown action") << "reply" << false << "";
}

void NotificationsTest::eachActionReachesItsHandler() {
  if (!busUp_ || !dbusmockAvailable()) QSKIP("dbus-daemon or python3-dbusmock is not installed");
  QFETCH(QString, key);
  QFETCH(bool, foreignId);
  QFETCH(QString, expected);
  startMock(QStringLiteral("body actions"));
  platform::DBusNotifications notifications(connection());
  QStringList reached;
  notifications.onDefault = [&] { reached << QStringLiteral("balloon"); };
  notifications.onOpen = [&] { reached << QStringLiteral("open"); };
  notifications.onDeleteSpam = [&] { reached << QStringLiteral("delete"); };
  notifications.spamMarked = [] { return true; };
  QTRY_VERIFY_WITH_TIMEOUT(notifications.capabilitiesKnown(), kWaitMs);
  QSignalSpy notified(&notifications, &platform::DBusNotifications::notified);
  QVERIFY(notifications.show(QStringLiteral("Kelvrin"), QStringLiteral("Ann: Hi"),
                             notify::BalloonIcon::Info, 5));
  QTRY_COMPARE_WITH_TIMEOUT(notified.count(), 1, kWaitMs);
  const uint id = notified.first().first().toUInt();
  emitAction(foreignId ? id + 100 : id, key);
  if (expected.isEmpty()) {
    // Give a wrongly routed signal the time to arrive.
    QTest::qWait(300);
    QVERIFY2(reached.isEmpty(), qPrintable(reached.join(',')));
  } else {
    QTRY_COMPARE_WITH_TIMEOUT(reached, QStringList{expected}, kWaitMs);
  }
}

void NotificationsTest::markedUpServicesGetTheTextEscaped() {
  if (!busUp_ || !dbusmockAvailable()) QSKIP("dbus-daemon or python3-dbusmock is not installed");
  startMock(QStringLiteral("body body-markup"));
  platform::DBusNotifications notifications(connection());
  QTRY_VERIFY_WITH_TIMEOUT(notifications.capabilitiesKnown(), kWaitMs);
  // A sender's address in angle brackets must not vanish as a tag.
  QCOMPARE(notifications.bodyFor(QStringLiteral("Ann <ann@example.com> & co\nBob")),
           QStringLiteral("Ann &lt;ann@example.com&gt; &amp; co<br/>Bob"));

  startMock(QStringLiteral("body"));
  QTRY_VERIFY_WITH_TIMEOUT(notifications.capabilitiesKnown() &&
                               !notifications.capabilities().contains(QLatin1String("body-markup")),
                           kWaitMs);
  QCOMPARE(notifications.bodyFor(QStringLiteral("Ann <ann@example.com>")),
           QStringLiteral("Ann <ann@example.com>"));
}

void NotificationsTest::theInputWatchCountsInputToOurWindowsOnce_data() {
  QTest::addColumn<int>("type");
  QTest::addColumn<int>("counted");
  QTest::newRow("key press") << int(QEvent::KeyPress) << 1;
  QTest::newRow("key release") << int(QEvent::KeyRelease) << 1;
  QTest::newRow("mouse press") << int(QEvent::MouseButtonPress) << 1;
  QTest::newRow("mouse move") << int(QEvent::MouseMove) << 1;
  QTest::newRow("wheel") << int(QEvent::Wheel) << 1;
  QTest::newRow("a repaint is no input") << int(QEvent::UpdateRequest) << 0;
  QTest::newRow("focus is no input") << int(QEvent::FocusIn) << 0;
}

void NotificationsTest::theInputWatchCountsInputToOurWindowsOnce() {
  QFETCH(int, type);
  QFETCH(int, counted);
  int seen = 0;
  platform::InputWatch watch([&seen] { ++seen; });
  QCOMPARE(platform::InputWatch::isInput(type), counted == 1);
  QWindow window;
  QObject notAWindow;
  QEvent event(static_cast<QEvent::Type>(type));
  QCoreApplication::sendEvent(&window, &event);
  QCoreApplication::sendEvent(&notAWindow, &event);
  QCOMPARE(seen, counted);
}

void NotificationsTest::everySoundIsAShortMonoPcmWave_data() {
  QTest::addColumn<int>("sound");
  QTest::addColumn<int>("rate");
  QTest::addColumn<int>("bits");
  QTest::addColumn<double>("seconds");
  QTest::newRow("WaveNewEM1") << int(notify::Sound::WaveNewEM1) << 11025 << 8 << 0.55;
  QTest::newRow("VoiceMail1") << int(notify::Sound::VoiceMail1) << 11025 << 8 << 2.1;
  QTest::newRow("WaveMixedEM1") << int(notify::Sound::WaveMixedEM1) << 22050 << 16 << 0.19;
  QTest::newRow("Raz1") << int(notify::Sound::Raz1) << 22050 << 8 << 1.14;
  QTest::newRow("WaveBalloon1") << int(notify::Sound::WaveBalloon1) << 22050 << 16 << 0.14;
}

void NotificationsTest::everySoundIsAShortMonoPcmWave() {
  QFETCH(int, sound);
  QFETCH(int, rate);
  QFETCH(int, bits);
  QFETCH(double, seconds);
  const QString name = platform::QtSoundPlayer::fileName(static_cast<notify::Sound>(sound));
  QVERIFY(!name.isEmpty());
  QFile file(QDir(QStringLiteral(KELVRIN_SOUND_SOURCE_DIR)).filePath(name));
  QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
  const QByteArray wav = file.readAll();
  QVERIFY(wav.size() > 44);
  QCOMPARE(wav.left(4), QByteArray("RIFF"));
  QCOMPARE(wav.mid(8, 4), QByteArray("WAVE"));
  // Walk the chunks: the format, then the samples.
  int pos = 12;
  int format = 0, channels = 0, sampleRate = 0, sampleBits = 0;
  qint64 dataBytes = -1;
  while (pos + 8 <= wav.size()) {
    const QByteArray id = wav.mid(pos, 4);
    const auto size = qFromLittleEndian<quint32>(wav.constData() + pos + 4);
    const char* body = wav.constData() + pos + 8;
    if (id == "fmt ") {
      format = qFromLittleEndian<quint16>(body);
      channels = qFromLittleEndian<quint16>(body + 2);
      sampleRate = static_cast<int>(qFromLittleEndian<quint32>(body + 4));
      sampleBits = qFromLittleEndian<quint16>(body + 14);
    } else if (id == "data") {
      dataBytes = size;
    }
    pos += 8 + static_cast<int>(size) + static_cast<int>(size & 1U);
  }
  QCOMPARE(format, 1);  // PCM: what the players decode
  QCOMPARE(channels, 1);
  QCOMPARE(sampleRate, rate);
  QCOMPARE(sampleBits, bits);
  QVERIFY(dataBytes > 0);
  const double length = double(dataBytes) / (sampleRate * (sampleBits / 8));
  QVERIFY2(qAbs(length - seconds) < 0.02, qPrintable(QString::number(length)));
}

QTEST_MAIN(NotificationsTest)
#include "notifications_test.moc"
