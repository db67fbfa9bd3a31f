// The tray icon on a real X server: a private Xvfb with the jwm window
// manager, whose tray is an XEmbed tray. The icon of a small tray program
// must end up inside the tray manager's window, also when the program was
// started before the tray (as an autostarted program often is). The clicks
// an XEmbed tray hands over, and those a StatusNotifierItem host sends over
// a private session bus, must reach the program's handlers.
//
// Skipped when Xvfb, jwm or the X utilities are not installed
// (packages xvfb jwm x11-utils; xdotool and dbus-daemon for the clicks). Every process started here
// is stopped by its PID.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const char* const kJwmConfig = R"(<?xml version="1.0"?>
<JWM>
  <Tray x="0" y="-1" height="32" autohide="off">
    <Dock/>
  </Tray>
</JWM>
)";

// A started process, stopped (SIGTERM, then SIGKILL) when it goes.
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
  void collect() { output += process->readAllStandardOutput(); }
  QStringList lines() {
    collect();
    return QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  QString last(const QString& prefix) {
    const QStringList all = lines();
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
      if (it->startsWith(prefix)) return it->mid(prefix.size());
    }
    return {};
  }
};

// The StatusNotifierItem host side, as far as a tray program needs it: a
// watcher that says a host is there and takes the items' registrations.
class Watcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

 public:
  bool hostRegistered() const { return true; }
  int protocolVersion() const { return 0; }
  QStringList items() const { return items_; }

 public slots:
  void RegisterStatusNotifierItem(const QString& service) {
    items_ << service;
    emit StatusNotifierItemRegistered(service);
  }
  void RegisterStatusNotifierHost(const QString&) {}

 signals:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierHostRegistered();

 private:
  QStringList items_;
};

}  // namespace

class TrayX11Test : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void anIconStartedBeforeTheTrayJoinsItOnceItAppears();
  void theIconSitsInTheTrayAndComesBackAfterARestart();
  void theTraysClicksReachTheProgram();
  void aStatusNotifierItemTrayGetsTheClicksAndTheMenu();
  void withoutANotificationServiceTheTrayShowsTheBalloonAndItsClick();
  void aStatusNotifierItemHostThatComesLateNeverLeavesTheProgramUnseen();

 private:
  QProcessEnvironment xEnvironment() const;
  void startJwm();
  void stopJwm();
  QString run(const QString& program, const QStringList& args) const;
  // Whether the window or one of its ancestors is the tray manager's window.
  bool insideTray(const QString& window) const;
  void startPeer(Child& peer, const QString& sessionBus = QStringLiteral("disabled:"),
                 const QStringList& args = {});

  QTemporaryDir dir_;
  Child xvfb_;
  Child jwm_;
  QString display_;
  QString xwininfo_;
  QString xprop_;
  QString xdotool_;
};

void TrayX11Test::initTestCase() {
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  const QString jwm = QStandardPaths::findExecutable("jwm");
  xwininfo_ = QStandardPaths::findExecutable("xwininfo");
  xprop_ = QStandardPaths::findExecutable("xprop");
  xdotool_ = QStandardPaths::findExecutable("xdotool");
  if (xvfb.isEmpty() || jwm.isEmpty() || xwininfo_.isEmpty() || xprop_.isEmpty()) {
    QSKIP("needs Xvfb, jwm, xwininfo and xprop (packages xvfb jwm x11-utils)");
  }
  QVERIFY(dir_.isValid());
  QFile config(dir_.filePath("jwmrc"));
  QVERIFY(config.open(QIODevice::WriteOnly));
  config.write(kJwmConfig);
  config.close();

  // Xvfb picks a free display and writes its number to the given fd; only
  // the local socket, no TCP.
  xvfb_.process->start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
  QVERIFY2(xvfb_.process->waitForStarted(10000), "Xvfb did not start");
  QTRY_VERIFY_WITH_TIMEOUT(
      !xvfb_.lines().isEmpty() || xvfb_.process->state() == QProcess::NotRunning, 20000);
  QVERIFY2(!xvfb_.lines().isEmpty(), "Xvfb gave no display number");
  display_ = QStringLiteral(":") + xvfb_.lines().front().trimmed();
}

void TrayX11Test::cleanupTestCase() {
  jwm_.stop();
  xvfb_.stop();
}

QProcessEnvironment TrayX11Test::xEnvironment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display_);
  env.insert("QT_QPA_PLATFORM", "xcb");
  // No session bus: the icon must take the XEmbed road to jwm's tray rather
  // than a StatusNotifierItem host that some bus might offer.
  env.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  env.remove("WAYLAND_DISPLAY");
  return env;
}

void TrayX11Test::startJwm() {
  jwm_.output.clear();
  jwm_.process->setProcessEnvironment(xEnvironment());
  jwm_.process->start(QStandardPaths::findExecutable("jwm"), {"-f", dir_.filePath("jwmrc")});
  QVERIFY2(jwm_.process->waitForStarted(10000), "jwm did not start");
}

void TrayX11Test::stopJwm() {
  jwm_.stop();
}

QString TrayX11Test::run(const QString& program, const QStringList& args) const {
  QProcess p;
  p.setProcessEnvironment(xEnvironment());
  p.start(program, args);
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished();
    return {};
  }
  return QString::fromUtf8(p.readAllStandardOutput());
}

bool TrayX11Test::insideTray(const QString& window) const {
  static const QRegularExpression parentLine(QStringLiteral("Parent window id: (0x[0-9a-fA-F]+)"));
  static const QRegularExpression rootLine(QStringLiteral("Root window id: (0x[0-9a-fA-F]+)"));
  QString id = window;
  for (int depth = 0; depth < 8 && !id.isEmpty(); ++depth) {
    if (run(xprop_, {"-id", id, "_NET_SYSTEM_TRAY_ORIENTATION"}).contains("= ")) return true;
    const QString info = run(xwininfo_, {"-children", "-id", id});
    const QString parent = parentLine.match(info).captured(1);
    if (parent.isEmpty() || parent == rootLine.match(info).captured(1)) return false;
    id = parent;
  }
  return false;
}

void TrayX11Test::startPeer(Child& peer, const QString& sessionBus, const QStringList& args) {
  QProcessEnvironment env = xEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", sessionBus);
  peer.process->setProcessEnvironment(env);
  peer.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  peer.process->start(QStringLiteral(KELVRIN_TRAY_X11_PEER), args);
  QVERIFY2(peer.process->waitForStarted(10000), "the tray program did not start");
}

void TrayX11Test::anIconStartedBeforeTheTrayJoinsItOnceItAppears() {
  Child peer;
  startPeer(peer);
  QTRY_VERIFY_WITH_TIMEOUT(!peer.last("available ").isEmpty(), 20000);
  QCOMPARE(peer.last("available "), QStringLiteral("0"));

  startJwm();
  QTRY_COMPARE_WITH_TIMEOUT(peer.last("available "), QStringLiteral("1"), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(!peer.last("icon ").isEmpty(), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(insideTray(peer.last("icon ")), 20000);
  QCOMPARE(peer.process->state(), QProcess::Running);
  peer.stop();
}

void TrayX11Test::theIconSitsInTheTrayAndComesBackAfterARestart() {
  // jwm runs from the test before; a fresh program joins at once.
  if (jwm_.process->state() != QProcess::Running) startJwm();
  Child peer;
  startPeer(peer);
  QTRY_COMPARE_WITH_TIMEOUT(peer.last("available "), QStringLiteral("1"), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(!peer.last("icon ").isEmpty(), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(insideTray(peer.last("icon ")), 20000);
  // The program's ordinary window is framed by jwm, not taken into the tray.
  QVERIFY(!peer.last("window ").isEmpty());
  QVERIFY(!insideTray(peer.last("window ")));

  // The tray goes away (the panel is restarted) and comes back: the program
  // notices both and its icon is in the new tray.
  stopJwm();
  QTRY_COMPARE_WITH_TIMEOUT(peer.last("available "), QStringLiteral("0"), 20000);
  startJwm();
  QTRY_COMPARE_WITH_TIMEOUT(peer.last("available "), QStringLiteral("1"), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(insideTray(peer.last("icon ")), 20000);
  QCOMPARE(peer.process->state(), QProcess::Running);
  peer.stop();
}

void TrayX11Test::theTraysClicksReachTheProgram() {
  // What an XEmbed tray hands over, as the help pages say: the click with
  // the keys held, the double click, the middle click and the menu.
  if (xdotool_.isEmpty()) QSKIP("needs xdotool");
  if (jwm_.process->state() != QProcess::Running) startJwm();
  Child peer;
  startPeer(peer);
  QTRY_VERIFY_WITH_TIMEOUT(!peer.last("icon ").isEmpty(), 20000);
  const QString icon = peer.last("icon ");
  QTRY_VERIFY_WITH_TIMEOUT(insideTray(icon), 20000);

  auto events = [&] {
    QStringList out;
    for (const QString& line : peer.lines()) {
      if (line.startsWith("click") || line == "double" || line == "middle" || line == "menu")
        out << line;
    }
    return out;
  };
  // Clicks further apart than a double click's interval stay single clicks.
  auto xdo = [&](const QStringList& args) {
    QTest::qWait(700);
    run(xdotool_, args);
  };

  xdo({"mousemove", "--window", icon, "8", "8", "click", "1"});
  QTRY_COMPARE_WITH_TIMEOUT(events(), QStringList{"click 0 0"}, 20000);
  xdo({"keydown", "ctrl", "click", "1", "keyup", "ctrl"});
  QTRY_COMPARE_WITH_TIMEOUT(events().last(), QStringLiteral("click 0 1"), 20000);
  xdo({"keydown", "shift", "click", "1", "keyup", "shift"});
  QTRY_COMPARE_WITH_TIMEOUT(events().last(), QStringLiteral("click 1 0"), 20000);
  xdo({"click", "2"});
  QTRY_COMPARE_WITH_TIMEOUT(events().last(), QStringLiteral("middle"), 20000);
  xdo({"click", "--repeat", "2", "--delay", "60", "1"});
  QTRY_COMPARE_WITH_TIMEOUT(events().last(), QStringLiteral("double"), 20000);
  xdo({"click", "3"});
  QTRY_COMPARE_WITH_TIMEOUT(events().last(), QStringLiteral("menu"), 20000);
  xdo({"key", "Escape"});
  QCOMPARE(peer.process->state(), QProcess::Running);
  peer.stop();
}

void TrayX11Test::aStatusNotifierItemTrayGetsTheClicksAndTheMenu() {
  // A private session bus with a StatusNotifierWatcher: the program's icon
  // registers there as an item, and the host's Activate and
  // SecondaryActivate calls become the click and the middle click.
  const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
  if (daemon.isEmpty()) QSKIP("needs dbus-daemon");
  Child bus;
  bus.process->start(daemon, {"--session", "--nofork", "--print-address=1"});
  QVERIFY2(bus.process->waitForStarted(10000), "dbus-daemon did not start");
  QTRY_VERIFY_WITH_TIMEOUT(!bus.lines().isEmpty(), 20000);
  const QString address = bus.lines().front().trimmed();
  QVERIFY(address.startsWith("unix:"));

  Watcher watcher;
  {
    QDBusConnection connection = QDBusConnection::connectToBus(address, "kelvrin-sni-host");
    QVERIFY2(connection.isConnected(), qPrintable(connection.lastError().message()));
    QVERIFY(connection.registerObject("/StatusNotifierWatcher", &watcher,
                                      QDBusConnection::ExportAllSlots |
                                          QDBusConnection::ExportAllProperties |
                                          QDBusConnection::ExportAllSignals));
    QVERIFY(connection.registerService("org.kde.StatusNotifierWatcher"));

    Child peer;
    startPeer(peer, address);
    QTRY_VERIFY_WITH_TIMEOUT(!watcher.items().isEmpty(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(peer.last("available "), QStringLiteral("1"), 20000);
    // An item names its bus service, and perhaps an object path after it.
    QString service = watcher.items().front();
    QString path = QStringLiteral("/StatusNotifierItem");
    if (const qsizetype slash = service.indexOf('/'); slash > 0) {
      path = service.mid(slash);
      service.truncate(slash);
    }
    QDBusInterface item(service, path, "org.kde.StatusNotifierItem", connection);
    QVERIFY2(item.isValid(), qPrintable(item.lastError().message()));

    auto events = [&] {
      QStringList out;
      for (const QString& line : peer.lines()) {
        if (line.startsWith("click") || line == "double" || line == "middle") out << line;
      }
      return out;
    };
    item.asyncCall("Activate", 10, 10);
    QTRY_COMPARE_WITH_TIMEOUT(events(), QStringList{"click 0 0"}, 20000);
    item.asyncCall("SecondaryActivate", 10, 10);
    QTRY_COMPARE_WITH_TIMEOUT(events(), (QStringList{"click 0 0", "middle"}), 20000);
    // The host draws the tray menu itself, from the menu the item exports.
    const auto menuPath = item.property("Menu").value<QDBusObjectPath>();
    QVERIFY(!menuPath.path().isEmpty() && menuPath.path() != "/");
    QDBusInterface menu(service, menuPath.path(), "com.canonical.dbusmenu", connection);
    menu.asyncCall("AboutToShow", 0);
    QTRY_VERIFY_WITH_TIMEOUT(peer.lines().contains("menu"), 20000);
    QCOMPARE(peer.process->state(), QProcess::Running);
    peer.stop();
  }
  QDBusConnection::disconnectFromBus("kelvrin-sni-host");
  bus.stop();
}

void TrayX11Test::withoutANotificationServiceTheTrayShowsTheBalloonAndItsClick() {
  if (xdotool_.isEmpty()) QSKIP("needs xdotool");
  if (jwm_.process->state() != QProcess::Running) startJwm();
  Child peer;
  startPeer(peer, QStringLiteral("disabled:"), {"--balloon"});
  QTRY_VERIFY_WITH_TIMEOUT(!peer.last("balloon ").isEmpty(), 20000);
  const QStringList at = peer.last("balloon ").split(' ');
  QCOMPARE(at.size(), 4);
  QTest::qWait(300);  // let the balloon settle where it was reported
  run(xdotool_, {"mousemove", QString::number(at[0].toInt() + at[2].toInt() / 2),
                 QString::number(at[1].toInt() + at[3].toInt() / 2), "click", "1"});
  QTRY_COMPARE_WITH_TIMEOUT(peer.last("balloonclick "), QStringLiteral("0 0"), 20000);
  QCOMPARE(peer.process->state(), QProcess::Running);
  peer.stop();
}

void TrayX11Test::aStatusNotifierItemHostThatComesLateNeverLeavesTheProgramUnseen() {
  // The toolkit chooses between a StatusNotifierItem and an XEmbed icon
  // once, when the program starts; a host that registers later may not get
  // the item. Whatever happens, the program must not believe in a tray that
  // shows nothing: it says "available 1" only when its item is registered.
  const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
  if (daemon.isEmpty()) QSKIP("needs dbus-daemon");
  stopJwm();  // no XEmbed tray either
  Child bus;
  bus.process->start(daemon, {"--session", "--nofork", "--print-address=1"});
  QVERIFY2(bus.process->waitForStarted(10000), "dbus-daemon did not start");
  QTRY_VERIFY_WITH_TIMEOUT(!bus.lines().isEmpty(), 20000);
  const QString address = bus.lines().front().trimmed();
  Watcher watcher;
  {
    QDBusConnection connection = QDBusConnection::connectToBus(address, "kelvrin-late-host");
    QVERIFY(connection.isConnected());
    Child peer;
    startPeer(peer, address);
    QTRY_COMPARE_WITH_TIMEOUT(peer.last("available "), QStringLiteral("0"), 20000);

    QVERIFY(connection.registerObject("/StatusNotifierWatcher", &watcher,
                                      QDBusConnection::ExportAllSlots |
                                          QDBusConnection::ExportAllProperties |
                                          QDBusConnection::ExportAllSignals));
    QVERIFY(connection.registerService("org.kde.StatusNotifierWatcher"));
    // Give the program a few of its tray probes to notice the host.
    QTest::qWait(3500);
    QCOMPARE(peer.last("available ") == QStringLiteral("1"), !watcher.items().isEmpty());
    QCOMPARE(peer.process->state(), QProcess::Running);
    peer.stop();
  }
  QDBusConnection::disconnectFromBus("kelvrin-late-host");
  bus.stop();
}

QTEST_GUILESS_MAIN(TrayX11Test)
#include "tray_x11_test.moc"
