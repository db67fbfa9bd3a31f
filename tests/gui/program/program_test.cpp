// The desktop program as processes against one settings home: a second
// start hands its request to the first and ends, --check makes the running
// one check (or starts one that checks), a lock left by a dead process is
// taken over, and every way to end it from outside saves the options.

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "gui/program/program_options.h"
#include "gui/program/single_instance.h"

using kelvrin::gui::ProgramOptions;

namespace {

constexpr int kStartTimeoutMs = 20000;

}  // namespace

class ProgramTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QString home_;
  std::vector<std::unique_ptr<QProcess>> processes_;
  QTcpServer pop3_;

  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir_->filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir_->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_->filePath(QStringLiteral("runtime")));
    env.remove(QStringLiteral("KELVRIN_HOME"));
    return env;
  }

  // A settings file for an account on our own listening socket; nothing
  // runs a check by itself.
  void writeSettings(bool withOptions = false) {
    QFile ini(QDir(home_).filePath(QStringLiteral("kelvrin.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    QByteArray text =
        "[KVWForm1]\n"
        "KVWMainEmail1=me@example.com\n"
        "KVWEdhost=127.0.0.1\n"
        "KVWedUser=bob\n"
        "KVWedPassword=secret\n"
        "KVWccntypeGroup=0\n"
        "Interval1=0\n"
        "PopPort=" +
        QByteArray::number(pop3_.serverPort()) + "\n";
    if (withOptions) text += "[KVmain]\nMinCheck1=0\nAutoUpdate1=0\n";
    ini.write(text);
  }

  QProcess* start(const QStringList& extra) {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(environment());
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QStringLiteral(KELVRIN_PROGRAM), QStringList{QStringLiteral("--home"), home_} + extra);
    processes_.push_back(std::move(p));
    return processes_.back().get();
  }

  // The instance is up once its server answers.
  bool waitUntilListening() {
    const QString name = kelvrin::gui::serverNameFor(home_.toStdString());
    return QTest::qWaitFor(
        [&] {
          QLocalSocket probe;
          probe.connectToServer(name);
          const bool up = probe.waitForConnected(100);
          probe.abort();
          return up;
        },
        kStartTimeoutMs);
  }

  QString settingsText() const {
    QFile ini(QDir(home_).filePath(QStringLiteral("kelvrin.ini")));
    if (!ini.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(ini.readAll());
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QDir(dir_->path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(dir_->filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    home_ = dir_->filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home_));
    QVERIFY(pop3_.listen(QHostAddress::LocalHost, 0));
  }

  void cleanup() {
    for (auto& p : processes_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
    processes_.clear();
    pop3_.close();
  }

  void secondStartHandsOverAndEnds() {
    writeSettings(true);
    QProcess* first = start({});
    QVERIFY(waitUntilListening());
    QProcess* second = start({});
    QVERIFY(second->waitForFinished(kStartTimeoutMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    QProcess* show = start({QStringLiteral("--show")});
    QVERIFY(show->waitForFinished(kStartTimeoutMs));
    QCOMPARE(show->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);
  }

  void checkReachesTheRunningInstance() {
    writeSettings(true);
    QSignalSpy connections(&pop3_, &QTcpServer::newConnection);
    QProcess* first = start({});
    QVERIFY(waitUntilListening());
    QCOMPARE(connections.count(), 0);
    QProcess* second = start({QStringLiteral("--check")});
    QVERIFY(second->waitForFinished(kStartTimeoutMs));
    QCOMPARE(second->exitCode(), 0);
    // The running instance connects to the mailbox.
    QVERIFY(connections.count() > 0 || connections.wait(kStartTimeoutMs));
    QCOMPARE(first->state(), QProcess::Running);
  }

  void checkWithoutAnInstanceStartsOneThatChecks() {
    writeSettings(true);
    QSignalSpy connections(&pop3_, &QTcpServer::newConnection);
    QProcess* first = start({QStringLiteral("--check")});
    QVERIFY(connections.wait(kStartTimeoutMs));
    QCOMPARE(first->state(), QProcess::Running);
  }

  void staleLockIsTakenOver() {
    writeSettings(true);
    // A lock file of a process that is gone.
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    QVERIFY(gone.waitForStarted(5000));
    const qint64 deadPid = gone.processId();
    QVERIFY(deadPid > 0);
    QVERIFY(gone.waitForFinished(5000));
    QFile lock(QDir(home_).filePath(QString::fromLatin1(kelvrin::gui::kLockFileName)));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(deadPid) + "\nkelvrin\n" + QHostInfo::localHostName().toUtf8() +
               "\n");
    lock.close();

    QProcess* first = start({});
    QVERIFY(waitUntilListening());
    QCOMPARE(first->state(), QProcess::Running);
    QLockFile held(lock.fileName());
    qint64 pid = 0;
    QString host;
    QString app;
    QVERIFY(held.getLockInfo(&pid, &host, &app));
    QCOMPARE(pid, first->processId());
  }

  void everyWayOutSavesTheOptions_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("SIGTERM") << QStringLiteral("SIGTERM");
    QTest::newRow("SIGINT") << QStringLiteral("SIGINT");
    QTest::newRow("SIGHUP") << QStringLiteral("SIGHUP");
    QTest::newRow("--quit") << QStringLiteral("--quit");
  }

  void everyWayOutSavesTheOptions() {
    QFETCH(QString, how);
    writeSettings(false);
    QVERIFY(!settingsText().contains(QStringLiteral("[KVmain]")));
    QProcess* first = start({});
    QVERIFY(waitUntilListening());
    if (how == QLatin1String("--quit")) {
      QProcess* quit = start({how});
      QVERIFY(quit->waitForFinished(kStartTimeoutMs));
      QCOMPARE(quit->exitCode(), 0);
    } else {
      const int signo = how == QLatin1String("SIGTERM")  ? SIGTERM
                        : how == QLatin1String("SIGINT") ? SIGINT
                                                         : SIGHUP;
      QCOMPARE(::kill(static_cast<pid_t>(first->processId()), signo), 0);
    }
    QVERIFY(first->waitForFinished(kStartTimeoutMs));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    const QString saved = settingsText();
    QVERIFY2(saved.contains(QStringLiteral("[KVmain]")), qPrintable(saved));
    QVERIFY(saved.contains(QStringLiteral("SndEnable1=1")));
    // The account is kept as it was.
    QVERIFY(saved.contains(QStringLiteral("KVWedUser=bob")));
    // The home is free again.
    QVERIFY(!QFile::exists(QDir(home_).filePath(QString::fromLatin1(kelvrin::gui::kLockFileName))));
  }

  void quitWithoutAnInstanceStartsNothing() {
    writeSettings(false);
    QProcess* quit = start({QStringLiteral("--quit")});
    QVERIFY(quit->waitForFinished(kStartTimeoutMs));
    QCOMPARE(quit->exitCode(), 0);
    QVERIFY(!settingsText().contains(QStringLiteral("[KVmain]")));
  }

  void firstStartOpensTheWizardAndAnEndBeforeFinishWritesNothing() {
    // No settings file: the program opens the settings wizard, which waits
    // for the user; a termination signal ends the program, and a first run
    // that was not finished leaves no settings file.
    QProcess* first = start({});
    const QString lock = QDir(home_).filePath(QString::fromLatin1(kelvrin::gui::kLockFileName));
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(lock); }, kStartTimeoutMs));
    QCOMPARE(::kill(static_cast<pid_t>(first->processId()), SIGTERM), 0);
    QVERIFY(first->waitForFinished(kStartTimeoutMs));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 1);
    QVERIFY(!QFile::exists(QDir(home_).filePath(QStringLiteral("kelvrin.ini"))));
    QVERIFY(!QFile::exists(lock));
  }

  void commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("request");
    QTest::addColumn<QString>("home");
    QTest::addColumn<bool>("minimized");
    const int none = static_cast<int>(ProgramOptions::Request::None);
    const int check = static_cast<int>(ProgramOptions::Request::Check);
    const int quit = static_cast<int>(ProgramOptions::Request::Quit);
    QTest::newRow("nothing") << QStringList{} << true << none << QString() << false;
    QTest::newRow("home and check")
        << QStringList{"--home", "/h", "--check"} << true << check << QStringLiteral("/h") << false;
    QTest::newRow("home=") << QStringList{"--home=/x", "--minimized"} << true << none
                           << QStringLiteral("/x") << true;
    QTest::newRow("the same request twice")
        << QStringList{"--quit", "--quit"} << true << quit << QString() << false;
    QTest::newRow("two requests") << QStringList{"--check", "--quit"} << false << none << QString()
                                  << false;
    QTest::newRow("home without folder")
        << QStringList{"--home"} << false << none << QString() << false;
    QTest::newRow("empty home") << QStringList{"--home="} << false << none << QString() << false;
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << false << none << QString() << false;
  }

  void commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    QFETCH(int, request);
    QFETCH(QString, home);
    QFETCH(bool, minimized);
    std::string error;
    const auto options = kelvrin::gui::parseProgramOptions(arguments, error);
    QCOMPARE(options.has_value(), valid);
    if (!valid) {
      QVERIFY(!error.empty());
      return;
    }
    QCOMPARE(static_cast<int>(options->request), request);
    QCOMPARE(QString::fromStdString(options->home.value_or("")), home);
    QCOMPARE(options->minimized, minimized);
  }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "program_test.moc"
