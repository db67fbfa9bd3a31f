// The mail program's name when the hot-key's program field is emptied: the
// Name of the desktop entry that handles mailto: links, found through
// xdg-mime in private XDG folders.
//
// Skipped when xdg-mime is not installed (package xdg-utils).

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/x11_key_sender.h"

class MailProgramNameTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty()) {
      QSKIP("needs xdg-mime (package xdg-utils)");
    }
    // Only these folders count: no desktop's own lookup, no system entries.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "GNOME_DESKTOP_SESSION_ID"}) {
      qunsetenv(name);
    }
    qputenv("XDG_CONFIG_HOME", path("config").toUtf8());
    qputenv("XDG_DATA_HOME", path("data").toUtf8());
    qputenv("XDG_CONFIG_DIRS", path("system").toUtf8());
    qputenv("XDG_DATA_DIRS", path("system").toUtf8());
  }

  void theNameOfTheMailtoHandlersEntry_data() {
    QTest::addColumn<QString>("handler");  // the entry named in mimeapps.list
    QTest::addColumn<QString>("file");     // where the entry is, under applications/
    QTest::addColumn<QString>("entry");    // its text
    QTest::addColumn<QString>("name");     // what comes back; empty for none
    const QString entry = QStringLiteral(
        "[Desktop Entry]\nType=Application\nName[de]=Testpost\nName = Test Mail \n"
        "Exec=true %u\n[Desktop Action compose]\nName=Compose\n");
    QTest::newRow("plain id") << "kelvrintest.desktop"
                              << "kelvrintest.desktop" << entry << "Test Mail";
    QTest::newRow("vendor prefix as a folder")
        << "kelvrintest-mail.desktop"
        << "kelvrintest/mail.desktop" << entry << "Test Mail";
    QTest::newRow("name only in another group")
        << "kelvrintest.desktop"
        << "kelvrintest.desktop"
        << "[Desktop Action compose]\nName=Compose\n[Desktop Entry]\n"
        << "";
    QTest::newRow("no such entry") << "kelvrintest-gone.desktop"
                                   << ""
                                   << ""
                                   << "";
    QTest::newRow("no handler") << ""
                                << ""
                                << ""
                                << "";
  }

  void theNameOfTheMailtoHandlersEntry() {
    QFETCH(QString, handler);
    QFETCH(QString, file);
    QFETCH(QString, entry);
    QFETCH(QString, name);
    QDir(path("")).removeRecursively();
    QVERIFY(QDir().mkpath(path("config")));
    QVERIFY(QDir().mkpath(path("system")));
    if (!handler.isEmpty()) {
      write(path("config/mimeapps.list"),
            "[Default Applications]\nx-scheme-handler/mailto=" + handler + "\n");
    }
    if (!file.isEmpty()) write(path("data/applications/" + file), entry);
    const std::optional<std::string> found = kelvrin::platform::defaultMailProgramName();
    QCOMPARE(found.has_value(), !name.isEmpty());
    if (found) QCOMPARE(QString::fromStdString(*found), name);
  }

 private:
  QString path(const QString& relative) const { return dir_.path() + "/xdg/" + relative; }
  static void write(const QString& name, const QString& text) {
    QDir().mkpath(QFileInfo(name).path());
    QFile out(name);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(text.toUtf8());
  }

  QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(MailProgramNameTest)
#include "mail_program_name_test.moc"
