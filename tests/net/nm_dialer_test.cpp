// The NetworkManager dialer against python3-dbusmock's networkmanager
// template on a private bus standing in for the system bus: the dial-up
// profiles it lists, a dial with the state changes the mock emits, the
// reason of a failed call, the hang-up, the dial-up status the detector
// reads, NetworkManager going away in the middle of a call, and the whole
// road from a dialled call to the check it starts.

#include "platform/nm_dialer.h"

#include <arpa/inet.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "app/kvmain.h"
#include "net/dial_texts.h"
#include "net/dial_up_part.h"
#include "net/net_detector.h"
#include "platform/posix_host_info.h"
#include "platform/qt_event_pump.h"
#include "protocols/clock.h"
#include "support/fake_prompter.h"
#include "support/scripted_server.h"

namespace net = kelvrin::net;
namespace platform = kelvrin::platform;

namespace {

constexpr int kWaitMs = 10000;
const QString kBusName = QStringLiteral("kelvrin-nm-test");
const QString kActive = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/7");

class RecordedEvents final : public net::DialEvents {
 public:
  void dialProgress(net::DialProgress p) override { progress.push_back(net::StatusText(p)); }
  void dialError(std::uint32_t code, const std::string& text) override {
    errors.push_back(std::to_string(code) + " " + text);
  }
  void dialDropped() override { ++drops; }
  std::vector<std::string> progress;
  std::vector<std::string> errors;
  int drops = 0;
};

// A computer without an address of its own: only the dial-up status can
// make it online.
class NoAddressHost final : public net::HostInfo {
 public:
  explicit NoAddressHost(platform::NmDialer& dialer) : dialer_(dialer) {}
  std::string ownAddress() override { return {}; }
  net::DialUpStatus dialUpStatus() override { return dialer_.dialUpStatus(); }

 private:
  platform::NmDialer& dialer_;
};

}  // namespace

class NmDialerTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QProcess bus_;
  std::unique_ptr<QProcess> mock_;
  QString address_;
  QString log_;

  QDBusConnection connection() const { return QDBusConnection(kBusName); }

  // Runs Python against the mock: nm is its main object, mock its control
  // interface.
  bool py(const QString& code) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import dbus\n"
                            "bus = dbus.SystemBus()\n"
                            "nm = bus.get_object('org.freedesktop.NetworkManager', "
                            "'/org/freedesktop/NetworkManager')\n"
                            "mock = dbus.Interface(nm, 'org.freedesktop.DBus.Mock')\n") +
                 code});
    return p.waitForFinished(kWaitMs) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
  }

  void addProfile(const QString& id, const QString& type) {
    QVERIFY(py(QStringLiteral("dbus.Interface(bus.get_object('org.freedesktop.NetworkManager', "
                              "'/org/freedesktop/NetworkManager/Settings'), "
                              "'org.freedesktop.NetworkManager.Settings').AddConnection("
                              "{'connection': {'id': '%1', 'type': '%2'}})")
                   .arg(id, type)));
  }

  // An activation that stays "activating" until the test says otherwise,
  // as a real modem does (the template's own one is up at once).
  void slowActivation() {
    QVERIFY(
        py(QStringLiteral(
               "mock.AddMethod('org.freedesktop.NetworkManager', 'ActivateConnection', 'ooo', 'o', "
               "\"self.AddObject('%1', 'org.freedesktop.NetworkManager.Connection.Active', "
               "{'State': dbus.UInt32(1), 'Id': 'Mobile', 'Type': 'gsm'}, []); "
               "ret = dbus.ObjectPath('%1')\")")
               .arg(kActive)));
  }

  bool emitState(unsigned state, unsigned reason) {
    return py(QStringLiteral("dbus.Interface(bus.get_object('org.freedesktop.NetworkManager', "
                             "'%1'), 'org.freedesktop.DBus.Mock').EmitSignal("
                             "'org.freedesktop.NetworkManager.Connection.Active', 'StateChanged', "
                             "'uu', [dbus.UInt32(%2), dbus.UInt32(%3)])")
                  .arg(kActive)
                  .arg(state)
                  .arg(reason));
  }

  void startMock() {
    log_ = dir_.filePath(QStringLiteral("nm-%1.log").arg(QDateTime::currentMSecsSinceEpoch()));
    mock_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    mock_->setProcessEnvironment(env);
    mock_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock_->start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                  QStringLiteral("--template"), QStringLiteral("networkmanager"),
                  QStringLiteral("-l"), log_});
    QVERIFY(mock_->waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(connection().interface()->isServiceRegistered(
                                 QString::fromLatin1(platform::NmDialer::kService)),
                             kWaitMs);
  }

  void stopMock() {
    if (!mock_) return;
    mock_->terminate();
    if (!mock_->waitForFinished(kWaitMs)) mock_->kill();
    mock_->waitForFinished(kWaitMs);
    mock_.reset();
  }

  QString mockLog() const {
    QFile f(log_);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

 private slots:
  void initTestCase() {
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
    if (!probe.waitForFinished(kWaitMs) || probe.exitCode() != 0)
      QSKIP("python3-dbusmock is not installed");
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address")});
    QVERIFY(bus_.waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(bus_.canReadLine() || bus_.waitForReadyRead(100), kWaitMs);
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    QVERIFY(!address_.isEmpty());
    QVERIFY(QDBusConnection::connectToBus(address_, kBusName).isConnected());
  }

  void init() { startMock(); }
  void cleanup() { stopMock(); }

  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus(kBusName);
    bus_.terminate();
    if (!bus_.waitForFinished(kWaitMs)) bus_.kill();
  }

  void listsDialUpProfilesOnly() {
    addProfile(QStringLiteral("Mobile"), QStringLiteral("gsm"));
    addProfile(QStringLiteral("Wired"), QStringLiteral("802-3-ethernet"));
    addProfile(QStringLiteral("Office"), QStringLiteral("vpn"));
    platform::NmDialer dialer(connection());
    QTRY_COMPARE_WITH_TIMEOUT(dialer.entries(), (std::vector<std::string>{"Mobile", "Office"}),
                              kWaitMs);
    QVERIFY(dialer.serviceAvailable());
    QCOMPARE(dialer.dialUpStatus(), net::DialUpStatus::Down);
  }

  void dialFollowsTheStateChangesAndHangsUp() {
    addProfile(QStringLiteral("Mobile"), QStringLiteral("gsm"));
    slowActivation();
    platform::NmDialer dialer(connection());
    RecordedEvents events;
    dialer.setEvents(&events);
    QTRY_COMPARE_WITH_TIMEOUT(dialer.entries().size(), std::size_t{1}, kWaitMs);
    dialer.dial("Mobile");
    QTRY_COMPARE_WITH_TIMEOUT(events.progress.size(), std::size_t{2}, kWaitMs);
    QCOMPARE(events.progress[0], std::string("Initializing..."));
    QCOMPARE(events.progress[1], std::string("Dialing..."));
    QVERIFY(emitState(2, 1));
    QTRY_COMPARE_WITH_TIMEOUT(events.progress.size(), std::size_t{3}, kWaitMs);
    QCOMPARE(events.progress[2], std::string("Successfully connected"));
    dialer.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(mockLog().contains(QStringLiteral("DeactivateConnection")), kWaitMs);
    QVERIFY(mockLog().contains(kActive));
    // What NetworkManager tells after our own hang-up is no news.
    QVERIFY(emitState(4, 2));
    QTest::qWait(200);
    QVERIFY(events.errors.empty());
    QCOMPARE(events.drops, 0);
  }

  void failedCallCarriesTheReason() {
    addProfile(QStringLiteral("Mobile"), QStringLiteral("gsm"));
    slowActivation();
    platform::NmDialer dialer(connection());
    RecordedEvents events;
    dialer.setEvents(&events);
    QTRY_COMPARE_WITH_TIMEOUT(dialer.entries().size(), std::size_t{1}, kWaitMs);
    dialer.dial("Mobile");
    QTRY_COMPARE_WITH_TIMEOUT(events.progress.size(), std::size_t{2}, kWaitMs);
    QVERIFY(emitState(4, 10));
    QTRY_COMPARE_WITH_TIMEOUT(events.errors.size(), std::size_t{1}, kWaitMs);
    QCOMPARE(events.errors[0], std::string("10 The login failed"));
  }

  void dialledCallIsTheDialUpStatus() {
    addProfile(QStringLiteral("Mobile"), QStringLiteral("gsm"));
    platform::NmDialer dialer(connection());
    RecordedEvents events;
    dialer.setEvents(&events);
    QTRY_COMPARE_WITH_TIMEOUT(dialer.entries().size(), std::size_t{1}, kWaitMs);
    QVERIFY(!dialer.connectionUp("Mobile"));
    NoAddressHost host(dialer);
    net::TINetDetector detector(host);
    detector.setEnabled(true);
    int changes = 0;
    detector.OnChanged = [&] { ++changes; };
    detector.Tick();
    QVERIFY(!detector.Online());
    // The template's activation is up at once and sends no state change.
    dialer.dial("Mobile");
    QTRY_COMPARE_WITH_TIMEOUT(events.progress.size(), std::size_t{3}, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT((detector.Tick(), detector.Online()), kWaitMs);
    QCOMPARE(changes, 1);
    QCOMPARE(dialer.dialUpStatus(), net::DialUpStatus::Up);
    QVERIFY2(!dialer.connectionUp("Mobile"), "our own call is not the user's");
  }

  // The dial-up profile listed, the call activated, its state going to
  // activated, the detector seeing the line and the check that follows,
  // against a POP3 server on loopback; the polling is the program's.
  void dialledCallComingUpRunsTheCheck() {
    addProfile(QStringLiteral("Mobile"), QStringLiteral("gsm"));
    // A modem's call: activating until the test brings it up, and listed
    // among the active connections as NetworkManager lists it.
    QVERIFY(
        py(QStringLiteral("mock.AddMethod('org.freedesktop.NetworkManager', 'ActivateConnection', "
                          "'ooo', 'o', \"self.AddActiveConnection([], args[0], '/', '7', "
                          "dbus.UInt32(1)); ret = dbus.ObjectPath('%1')\")")
               .arg(kActive)));
    kelvrin::test::ScriptedServer pop(
        "S: +OK ready\nC: USER bob\nS: +OK\nC: PASS secret\nS: +OK logged in\n"
        "C: STAT\nS: +OK 1 301\nC: LAST\nS: +OK 0\n"
        "C: UIDL\nS: +OK\nS: 1 u1\nS: .\n"
        "C: LIST 1\nS: +OK 1 301\nC: TOP 1 0\nS: +OK\n"
        "S: From: Friend <friend@example.org>\nS: To: me@example.com\n"
        "S: Subject: Lunch\nS: Date: Mon, 3 Mar 2025 10:01:00 +0000\nS: \nS: .\n"
        "C: UIDL 1\nS: +OK 1 u1\nC: QUIT\nS: +OK bye\n");

    platform::NmDialer dialer(connection());
    NoAddressHost host(dialer);
    kelvrin::platform::QtEventPump pump;
    kelvrin::protocols::SystemClock clock;
    kelvrin::test::FakePrompter prompter;
    QTemporaryDir home;
    auto kv = std::make_unique<kelvrin::app::TKVmain>(
        kelvrin::app::Ports{{}, pump, clock, prompter}, home.path().toStdString());
    kv->FormCreate();
    kv->FormShow();
    auto& wizard = *kv->KVWForm1;
    wizard.setText("KVWMainEmail1", "me@example.com");
    wizard.setText("KVWEdhost", "127.0.0.1");
    wizard.setText("PopPort", " " + pop.PortText());
    wizard.setText("KVWedUser", "bob");
    wizard.setText("KVWedPassword", "secret");
    wizard.setValue("KVWccntypeGroup", 1);
    wizard.setText("KVWServiceComboBox", "Mobile");
    kv->KVmain->setChecked("AutoUpdate1", false);
    kv->lbAllowEM->Add("me@example.com");
    auto owned = std::make_unique<net::DialUpPart>(*kv, host, dialer);
    net::DialUpPart& part = *owned;
    kv->setDialUp(std::move(owned));
    QTRY_COMPARE_WITH_TIMEOUT(dialer.entries(), std::vector<std::string>{"Mobile"}, kWaitMs);
    part.ConnectionTypeChanged(1);
    QCOMPARE(kv->State.OnlineState.get(), 0);

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout,
                     [&] { part.Poll(static_cast<std::uint64_t>(clock.TickCount())); });
    poll.start(100);

    part.StartDialler();
    QTRY_VERIFY_WITH_TIMEOUT(mockLog().contains(QStringLiteral("ActivateConnection")), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(kv->dfsStatus.Status(), std::string("Status: Dialing..."), kWaitMs);
    // Activating is not online: nothing may reach for the server yet.
    QTest::qWait(1000);
    QCOMPARE(kv->State.OnlineState.get(), 0);
    QVERIFY(pop.ClientLog().empty());

    QVERIFY(py(QStringLiteral("mock.SetProperty('%1', "
                              "'org.freedesktop.NetworkManager.Connection.Active', 'State', "
                              "dbus.UInt32(2, variant_level=1))")
                   .arg(kActive)));
    QVERIFY(emitState(2, 1));
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(kv->State.ValidCount), 1, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!kv->State.CheckInProgress, kWaitMs);
    poll.stop();
    QVERIFY(pop.Finished());
    QCOMPARE(kv->State.OnlineState.get(), 1);
    QCOMPARE(kv->VTree1.rows().size(), std::size_t{1});
    QVERIFY2(part.SystemConnectionUp(), "mail came: the line stays up");
    QVERIFY(kv->Commands.Visible("Disconnect1"));

    part.Disconnect1Click();
    QTRY_VERIFY_WITH_TIMEOUT(mockLog().contains(QStringLiteral("DeactivateConnection")), kWaitMs);
    kv.reset();
  }

  void ownAddressIsNeverLoopback() {
    const std::string address = platform::ownInterfaceAddress();
    if (address.empty()) QSKIP("no interface with an address is up");
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
      QVERIFY2((ntohl(v4.s_addr) >> 24) != 127, address.c_str());
    } else {
      QVERIFY2(inet_pton(AF_INET6, address.c_str(), &v6) == 1, address.c_str());
      QVERIFY2(!IN6_IS_ADDR_LOOPBACK(&v6) && !IN6_IS_ADDR_LINKLOCAL(&v6), address.c_str());
    }
  }

  void vanishingServiceEndsTheCall() {
    addProfile(QStringLiteral("Mobile"), QStringLiteral("gsm"));
    slowActivation();
    platform::NmDialer dialer(connection());
    RecordedEvents events;
    dialer.setEvents(&events);
    QTRY_COMPARE_WITH_TIMEOUT(dialer.entries().size(), std::size_t{1}, kWaitMs);
    dialer.dial("Mobile");
    QTRY_COMPARE_WITH_TIMEOUT(events.progress.size(), std::size_t{2}, kWaitMs);
    stopMock();
    QTRY_COMPARE_WITH_TIMEOUT(events.errors.size(), std::size_t{1}, kWaitMs);
    QCOMPARE(events.errors[0], std::string("0 NetworkManager has stopped"));
    QVERIFY(!dialer.serviceAvailable());
    QVERIFY(dialer.entries().empty());
    QCOMPARE(dialer.dialUpStatus(), net::DialUpStatus::Unknown);
    // A dial without the service fails at once instead of waiting.
    dialer.dial("Mobile");
    QCOMPARE(events.errors.size(), std::size_t{2});
  }
};

QTEST_GUILESS_MAIN(NmDialerTest)
#include "nm_dialer_test.moc"
