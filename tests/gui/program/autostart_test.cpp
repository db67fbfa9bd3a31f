// The start-up entry: the desktop entry it writes starts the program
// minimised (with the settings home when one was chosen), private and
// complete, and removing it leaves nothing.

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/xdg_autostart.h"

namespace platform = kelvrin::platform;

class AutostartTest : public QObject {
  Q_OBJECT

 private slots:
  void execArgumentsAreQuoted_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain path") << "/usr/bin/kelvrin"
                                << "/usr/bin/kelvrin";
    QTest::newRow("blank") << "/home/me/My Mail"
                           << "\"/home/me/My Mail\"";
    QTest::newRow("dollar and quote") << "/a$b\"c"
                                      << "\"/a\\\\$b\\\\\"c\"";
    QTest::newRow("backslash") << "/a\\b"
                               << "\"/a\\\\\\\\b\"";
    QTest::newRow("field code") << "/100%"
                                << "\"/100%%\"";
    QTest::newRow("empty") << ""
                           << "\"\"";
  }

  void execArgumentsAreQuoted() {
    QFETCH(QString, argument);
    QFETCH(QString, quoted);
    QCOMPARE(QString::fromStdString(platform::quoteExecArgument(argument.toStdString())), quoted);
  }

  void entryIsWrittenPrivateAndRemoved() {
    QTemporaryDir dir;
    const std::string folder = dir.filePath(QStringLiteral("autostart")).toStdString();
    platform::XdgStartupEntry entry("kelvrin", std::string("/home/me/My Mail"), folder);
    QCOMPARE(entry.SetRunEntry(0), false);
    QFile file(QString::fromStdString(entry.entryPath().string()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));
    QVERIFY(
        text.contains(QStringLiteral("\nExec=kelvrin --home \"/home/me/My Mail\" --minimized\n")));
    struct stat st {};
    QCOMPARE(::stat(entry.entryPath().c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
    QCOMPARE(::stat(folder.c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);

    // Writing again replaces the entry; other modes change nothing.
    platform::XdgStartupEntry plain("kelvrin", std::nullopt, folder);
    plain.SetRunEntry(0);
    plain.SetRunEntry(7);
    QFile again(QString::fromStdString(plain.entryPath().string()));
    QVERIFY(again.open(QIODevice::ReadOnly));
    QVERIFY(again.readAll().contains("\nExec=kelvrin --minimized\n"));

    plain.SetRunEntry(1);
    QVERIFY(!QFile::exists(QString::fromStdString(plain.entryPath().string())));
    // Removing what is not there is no error.
    plain.SetRunEntry(1);
  }

  void directoryFollowsXdgConfigHome() {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    QCOMPARE(QString::fromStdString(platform::autostartDirectory().string()),
             QStringLiteral("/somewhere/config/autostart"));
    // A relative value is not a valid XDG folder.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    QVERIFY(QString::fromStdString(platform::autostartDirectory().string())
                .endsWith(QStringLiteral("/.config/autostart")));
    qputenv("XDG_CONFIG_HOME", saved);
  }
};

QTEST_GUILESS_MAIN(AutostartTest)
#include "autostart_test.moc"
