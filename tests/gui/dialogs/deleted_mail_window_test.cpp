// The "Deleted mail" window over a quarantine in a temporary data folder:
// it lists the copies newest first, Export writes the stored bytes, Restore
// delivers them through a real SMTP server while the window keeps
// answering, and a copy whose file is gone says so.

#include "gui/dialogs/deleted_mail_window.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "mail/codecs.h"
#include "platform/qt_event_pump.h"
#include "settings/forms.h"
#include "settings/settings_home.h"
#include "support/scripted_server.h"
#include "support/smtp_test_server.h"
#include "support/temp_dir.h"

#include "quarantine/quarantine_store.h"

using namespace kelvrin;
using kelvrin::gui::DeletedMailWindow;

namespace {

class StepClock final : public quarantine::Clock {
 public:
  std::int64_t Now() override { return now_ += 60; }

 private:
  std::int64_t now_ = 1741000000;
};

const std::string kOlder =
    "From: Offers <deal@spam.example>\r\nSubject: Cheap stuff\r\n\r\nbody\r\n";
// What a restore must carry unchanged: a stuffed-looking dot line, 8-bit text.
const std::string kNewer =
    "From: Friend <friend@example.org>\r\nSubject: Lunch / today\r\nX-Kept: exactly\r\n"
    "\r\n.a leading dot\r\n8-bit: \xe4\xf6\xfc\r\n";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The messages the SMTP server received, decoded.
std::vector<std::string> received(const test::SmtpTestServer& smtp) {
  std::vector<std::string> data;
  for (const std::string& event : smtp.Events()) {
    if (event.rfind("mail ", 0) != 0) continue;
    const std::string text = event.substr(event.find(" data=") + 6);
    std::string bytes;
    mail::StringSink sink(bytes);
    mail::TBase64DecodingStream decoder(sink);
    decoder.Write(text.data(), text.size());
    data.push_back(std::move(bytes));
  }
  return data;
}

}  // namespace

class DeletedMailWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> data_;
  std::filesystem::path folder_;
  std::vector<quarantine::QuarantineEntry> kept_;  // oldest first
  std::unique_ptr<settings::Form> wizard_;
  platform::QtEventPump pump_;

  void keep(const std::string& bytes, int level) {
    StepClock clock;
    quarantine::QuarantineStore store(folder_, clock);
    store.Open();
    for (std::size_t i = 0; i < kept_.size(); ++i)
      clock.Now();  // later than what is kept already
    auto writer = store.Begin();
    writer->Append(bytes);
    quarantine::QuarantineEntry e;
    e.Host = "pop.example.net";
    e.Port = 110;
    e.User = "bob";
    quarantine::ReadHeaderFields(bytes, e.From, e.Subject);
    e.Level = level;
    kept_.push_back(writer->Commit(e));
  }

  static void select(DeletedMailWindow& w, int row) {
    w.list()->clearSelection();
    w.list()->topLevelItem(row)->setSelected(true);
  }

 private slots:
  void init() {
    data_ = std::make_unique<test::TempDir>();
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data_->Path()));
    folder_ = quarantine::QuarantineStore::DefaultFolder(settings::processEnvironment);
    QCOMPARE(QString::fromStdString(folder_.string()),
             QString::fromStdString(data_->Path() + "/kelvrin/quarantine"));
    kept_.clear();
    keep(kOlder, 9);
    keep(kNewer, 8);
    wizard_ = settings::makeKVWForm1Form();
  }

  void listsNewestFirstWithDisplayText() {
    DeletedMailWindow w(folder_, *wizard_, pump_);
    QCOMPARE(w.list()->topLevelItemCount(), 2);
    QTreeWidgetItem* first = w.list()->topLevelItem(0);
    QCOMPARE(first->text(DeletedMailWindow::ColSubject), QStringLiteral("Lunch / today"));
    QCOMPARE(first->text(DeletedMailWindow::ColFrom),
             QStringLiteral("Friend <friend@example.org>"));
    QCOMPARE(first->text(DeletedMailWindow::ColAccount), QStringLiteral("bob@pop.example.net:110"));
    QCOMPARE(first->text(DeletedMailWindow::ColLevel), QStringLiteral("8"));
    QCOMPARE(w.list()->topLevelItem(1)->text(DeletedMailWindow::ColSubject),
             QStringLiteral("Cheap stuff"));
    QVERIFY2(!w.restoreButton()->isEnabled(), "nothing selected");
    select(w, 0);
    QVERIFY(w.restoreButton()->isEnabled());
    QVERIFY(w.exportButton()->isEnabled());
  }

  void exportWritesTheStoredBytes() {
    DeletedMailWindow w(folder_, *wizard_, pump_);
    select(w, 0);
    const std::string file = data_->File("one.eml");
    w.exportSelectedTo(QString::fromStdString(file));
    QCOMPARE(readFile(file), kNewer);

    // Several at once go into a folder, named from their subjects.
    w.list()->selectAll();
    test::TempDir out;
    w.exportSelectedTo(QString::fromStdString(out.Path()));
    QCOMPARE(readFile(out.File("Lunch   today.eml")), kNewer);
    QCOMPARE(readFile(out.File("Cheap stuff.eml")), kOlder);
    QVERIFY2(w.statusLine()->text().startsWith(QStringLiteral("Exported 2 messages")),
             qPrintable(w.statusLine()->text()));
  }

  void restoreDeliversTheStoredBytes() {
    if (!test::SmtpTestServer::Available()) QSKIP("python3-aiosmtpd is not installed");
    test::SmtpTestServer smtp(test::SmtpTestServer::Mode::Plain);
    wizard_->setText("KVWMainEmail1", "bob@example.net");
    wizard_->setText("KVWsmtphost", "127.0.0.1");
    wizard_->setText("SmtpPort", std::to_string(smtp.Port()));
    wizard_->setText("KVWedUser", smtp.User());
    wizard_->setText("KVWedPassword", smtp.Password());
    DeletedMailWindow w(folder_, *wizard_, pump_);
    select(w, 0);
    w.restoreSelected();
    const auto arrived = received(smtp);
    QCOMPARE(arrived.size(), std::size_t{1});
    QCOMPARE(arrived[0], kNewer);
    QCOMPARE(w.statusLine()->text(), QStringLiteral("Restored 1 message to bob@example.net"));
    QVERIFY(w.restoreButton()->isEnabled());
  }

  // A slow server: the window answers while it waits, and takes no second
  // send or export meanwhile.
  void theWindowAnswersDuringASend() {
    test::ScriptedServer server(
        "P: 300\n"
        "S: 220 slow.example ESMTP\n"
        "C~ (EHLO|HELO) .*\n"
        "S: 250 slow.example\n"
        "C~ MAIL FROM: ?<bob@example\\.net>.*\n"
        "S: 250 ok\n"
        "C~ RCPT TO: ?<bob@example\\.net>.*\n"
        "S: 250 ok\n"
        "C: DATA\n"
        "S: 354 go on\n"
        "C: From: Offers <deal@spam.example>\n"
        "C: Subject: Cheap stuff\n"
        "C~ \n"
        "C: body\n"
        "C: .\n"
        "S: 250 queued\n"
        "C: QUIT\n"
        "S: 221 bye\n");
    wizard_->setText("KVWMainEmail1", "bob@example.net");
    wizard_->setText("KVWsmtphost", "127.0.0.1");
    wizard_->setText("SmtpPort", server.PortText());
    wizard_->setText("KVWedUser", "");
    DeletedMailWindow w(folder_, *wizard_, pump_);
    select(w, 1);
    bool ranDuringSend = false;
    bool buttonsOffDuringSend = false;
    QTimer::singleShot(0, &w, [&] {
      ranDuringSend = w.sending();
      buttonsOffDuringSend = !w.restoreButton()->isEnabled() && !w.exportButton()->isEnabled();
    });
    w.restoreSelected();
    QVERIFY2(ranDuringSend, "events ran while the message was sent");
    QVERIFY(buttonsOffDuringSend);
    const auto finished = server.Finished();
    QVERIFY2(static_cast<bool>(finished), finished.message());
    QCOMPARE(w.statusLine()->text(), QStringLiteral("Restored 1 message to bob@example.net"));
  }

  void aCopyWhoseFileIsGoneSaysSo() {
    DeletedMailWindow w(folder_, *wizard_, pump_);
    quarantine::QuarantineStore store(folder_);
    store.Open();
    std::filesystem::remove(store.MessagePath(kept_.back()));
    select(w, 0);
    const std::string file = data_->File("gone.eml");
    w.exportSelectedTo(QString::fromStdString(file));
    QVERIFY2(!std::filesystem::exists(file), "no empty export");
    const QString status = w.statusLine()->text();
    QVERIFY2(status.contains(QString::fromStdString(store.MessagePath(kept_.back()).string())),
             qPrintable(status));
  }

  void restoreWithoutAnSmtpServerSaysWhy() {
    wizard_->setText("KVWMainEmail1", "bob@example.net");
    DeletedMailWindow w(folder_, *wizard_, pump_);
    select(w, 0);
    w.restoreSelected();
    QVERIFY2(w.statusLine()->text().startsWith(QStringLiteral("No SMTP server is set")),
             qPrintable(w.statusLine()->text()));
  }
};

QTEST_MAIN(DeletedMailWindowTest)
#include "deleted_mail_window_test.moc"
