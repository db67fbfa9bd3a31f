// The tip of the day as a dialog (with the Show Tips option it decides) and
// the help window with the program's own pages.

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "gui/dialogs/dialog_driver.h"
#include "gui/dialogs/help_window.h"
#include "gui/dialogs/tips_dialog.h"
#include "settings/form.h"
#include "settings/forms.h"

using kelvrin::test::ModalDriver;
namespace gui = kelvrin::gui;
namespace ui = kelvrin::ui;
namespace settings = kelvrin::settings;

namespace {

enum class Opened { AtStart, FromMenu };
enum class Closed { CloseButton, WindowClose };

void writeFile(const QString& path, const QByteArray& text) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(text);
}

QString shownPage(const gui::HelpWindow* w) {
  return QFileInfo(w->browser()->source().toLocalFile()).fileName();
}

}  // namespace

class TipsHelpTest : public QObject {
  Q_OBJECT

 private slots:
  void showTipsOption_data();
  void showTipsOption();
  void turningShowTipsOffShowsNothing();
  void theDialogShowsTheTipsTexts();
  void nextMayRepeatAndBackReturns();
  void aSingleTipOrNoneOffersNoNext();
  void helpOpensTheAskedPageAndStaysInItsFolder();
  void helpIsOneWindowForTheProgram();
  void helpFallsBackToTheProgramsOwnPages();
  void everyLinkOfTheHelpPagesLeadsToAPageAndAnchor();
  void theHelpCoversEveryCommandAndTheTrayClicks();
};

void TipsHelpTest::showTipsOption_data() {
  QTest::addColumn<Opened>("opened");
  QTest::addColumn<bool>("untick");
  QTest::addColumn<Closed>("closed");
  QTest::addColumn<bool>("expectedOption");
  QTest::newRow("start, kept ticked, Close")
      << Opened::AtStart << false << Closed::CloseButton << true;
  QTest::newRow("start, unticked, Close")
      << Opened::AtStart << true << Closed::CloseButton << false;
  QTest::newRow("start, unticked, window closed")
      << Opened::AtStart << true << Closed::WindowClose << false;
  QTest::newRow("menu, kept ticked, Close")
      << Opened::FromMenu << false << Closed::CloseButton << true;
  QTest::newRow("menu, unticked, Close")
      << Opened::FromMenu << true << Closed::CloseButton << false;
}

void TipsHelpTest::showTipsOption() {
  QFETCH(Opened, opened);
  QFETCH(bool, untick);
  QFETCH(Closed, closed);
  QFETCH(bool, expectedOption);

  auto KVmain = settings::makeKVmainForm();
  KVmain->setChecked("ShowTips1", opened == Opened::AtStart);
  ui::TTips tips;
  gui::TipsDialog::install(tips, nullptr);
  bool startedTicked = false;
  QString checkCaption;
  ModalDriver driver([&](QDialog* d) {
    auto* dialog = qobject_cast<gui::TipsDialog*>(d);
    QVERIFY(dialog);
    startedTicked = dialog->showAtStart()->isChecked();
    checkCaption = dialog->showAtStart()->text();
    if (untick) QTest::mouseClick(dialog->showAtStart(), Qt::LeftButton);
    if (closed == Closed::CloseButton) {
      QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);
    } else {
      dialog->close();
    }
  });
  if (opened == Opened::AtStart) {
    ui::ShowTipsAtStart(*KVmain, tips);
  } else {
    ui::ShowTips1Click(*KVmain, tips);
  }
  QVERIFY(driver.shown());
  QVERIFY(!driver.leftOpen());
  QVERIFY(startedTicked);
  QCOMPARE(checkCaption, QStringLiteral("&Show this dialog on next Start of Kelvrin"));
  QCOMPARE(KVmain->checked("ShowTips1"), expectedOption);
}

void TipsHelpTest::turningShowTipsOffShowsNothing() {
  auto KVmain = settings::makeKVmainForm();
  KVmain->setChecked("ShowTips1", true);
  ui::TTips tips;
  gui::TipsDialog::install(tips, nullptr);
  ModalDriver driver([](QDialog* d) { d->accept(); });
  ui::ShowTips1Click(*KVmain, tips);
  QCoreApplication::processEvents();
  QVERIFY(!driver.shown());
  QVERIFY(!KVmain->checked("ShowTips1"));

  // Nor does a start with the option off.
  ui::ShowTipsAtStart(*KVmain, tips);
  QCoreApplication::processEvents();
  QVERIFY(!driver.shown());
}

void TipsHelpTest::theDialogShowsTheTipsTexts() {
  ui::TTips tips;
  const ui::TipsDialogSpec spec = tips.dialogSpec();
  gui::TipsDialog dialog(spec, [](std::size_t) { return std::size_t{3}; });
  QCOMPARE(dialog.tipText()->text(), QString::fromStdString(tips.Tips[3]));
  QCOMPARE(dialog.tipText()->textFormat(), Qt::PlainText);
  QCOMPARE(dialog.nextButton()->text(), QStringLiteral("&Next >"));
  QCOMPARE(dialog.closeButton()->text(), QStringLiteral("&Close"));
  QStringList labels;
  for (const QLabel* l : dialog.findChildren<QLabel*>())
    labels << l->text();
  QVERIFY(labels.contains("Kelvrin tip of the day"));
  QVERIFY(labels.contains("Did you know?"));
  QVERIFY(dialog.closeButton()->isDefault());
}

void TipsHelpTest::nextMayRepeatAndBackReturns() {
  ui::TipsDialogSpec spec;
  spec.tips = {"first", "second", "third"};
  std::vector<std::size_t> picks{1, 1, 2};
  std::size_t call = 0;
  gui::TipsDialog dialog(spec, [&](std::size_t) { return picks.at(call++); });
  QCOMPARE(dialog.tipText()->text(), QStringLiteral("second"));
  QVERIFY(!dialog.backButton()->isEnabled());
  QTest::mouseClick(dialog.nextButton(), Qt::LeftButton);
  QCOMPARE(dialog.tipText()->text(), QStringLiteral("second"));  // the same one may come again
  QTest::mouseClick(dialog.nextButton(), Qt::LeftButton);
  QCOMPARE(dialog.tipText()->text(), QStringLiteral("third"));
  QVERIFY(dialog.backButton()->isEnabled());
  QTest::mouseClick(dialog.backButton(), Qt::LeftButton);
  QTest::mouseClick(dialog.backButton(), Qt::LeftButton);
  QCOMPARE(dialog.tipText()->text(), QStringLiteral("second"));
  QVERIFY(!dialog.backButton()->isEnabled());
}

void TipsHelpTest::aSingleTipOrNoneOffersNoNext() {
  for (const std::vector<std::string>& list :
       {std::vector<std::string>{}, std::vector<std::string>{"only"}}) {
    ui::TipsDialogSpec spec;
    spec.tips = list;
    gui::TipsDialog dialog(spec, [](std::size_t) { return std::size_t{0}; });
    QVERIFY(!dialog.nextButton()->isEnabled());
    QCOMPARE(dialog.tipText()->text(),
             list.empty() ? QStringLiteral("No tips available !") : QStringLiteral("only"));
  }
}

void TipsHelpTest::helpOpensTheAskedPageAndStaysInItsFolder() {
  QTemporaryDir dir;
  writeFile(dir.filePath("index.html"), "<html><body><h1>Contents</h1></body></html>");
  writeFile(dir.filePath("tray.html"),
            "<html><body><h1>Tray</h1><h2 id=\"clicks\">Clicks</h2></body></html>");
  QTemporaryDir outside;
  writeFile(outside.filePath("secret.html"), "<html><body>secret</body></html>");
  qputenv("KELVRIN_HELP_DIR", dir.path().toUtf8());

  gui::HelpWindow window;
  struct Case {
    QString topic;
    QString page;
    QString fragment;
  };
  const QString escape = QDir(dir.path()).relativeFilePath(outside.filePath("secret"));
  for (const Case& c : {Case{"tray", "tray.html", ""}, Case{"tray#clicks", "tray.html", "clicks"},
                        Case{"", "index.html", ""}, Case{"nosuchpage", "index.html", ""},
                        Case{escape, "index.html", ""}, Case{"../index", "index.html", ""},
                        Case{outside.filePath("secret"), "index.html", ""}}) {
    window.openTopic(c.topic);
    QCOMPARE(shownPage(&window), c.page);
    QCOMPARE(window.browser()->source().fragment(), c.fragment);
  }
  qunsetenv("KELVRIN_HELP_DIR");
}

void TipsHelpTest::helpIsOneWindowForTheProgram() {
  QTemporaryDir dir;
  writeFile(dir.filePath("index.html"), "<html><body>Contents</body></html>");
  writeFile(dir.filePath("commands.html"), "<html><body>Commands</body></html>");
  qputenv("KELVRIN_HELP_DIR", dir.path().toUtf8());
  gui::HelpWindow::showTopic("index", nullptr);
  QPointer<gui::HelpWindow> first = gui::HelpWindow::instance();
  QVERIFY(first);
  QVERIFY(first->isVisible());
  gui::HelpWindow::showTopic("commands", nullptr);
  QCOMPARE(gui::HelpWindow::instance(), first.data());
  QCOMPARE(shownPage(first), QStringLiteral("commands.html"));
  first->close();  // deletes itself
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(first.isNull());
  QVERIFY(!gui::HelpWindow::instance());
  qunsetenv("KELVRIN_HELP_DIR");
}

void TipsHelpTest::helpFallsBackToTheProgramsOwnPages() {
  QTemporaryDir empty;
  qputenv("KELVRIN_HELP_DIR", empty.path().toUtf8());
  // The environment's folder has no pages, so the source tree's are used.
  QCOMPARE(QDir(gui::HelpWindow::helpDirectory()).canonicalPath(),
           QDir(KELVRIN_SOURCE_DIR "/share/help").canonicalPath());
  gui::HelpWindow window;
  window.openTopic("tray#clicks");
  QCOMPARE(window.browser()->documentTitle(), QStringLiteral("The tray icon"));
  qunsetenv("KELVRIN_HELP_DIR");
}

void TipsHelpTest::everyLinkOfTheHelpPagesLeadsToAPageAndAnchor() {
  const QDir dir(KELVRIN_SOURCE_DIR "/share/help");
  const QStringList pages = dir.entryList({"*.html"}, QDir::Files);
  QVERIFY(pages.size() >= 4);
  QMap<QString, QString> text;
  for (const QString& page : pages) {
    QFile f(dir.filePath(page));
    QVERIFY(f.open(QIODevice::ReadOnly));
    text[page] = QString::fromUtf8(f.readAll());
  }
  const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
  int links = 0;
  for (auto it = text.cbegin(); it != text.cend(); ++it) {
    for (const auto& m : href.globalMatch(it.value())) {
      const QString target = m.captured(1);
      if (target.startsWith("http:") || target.startsWith("https:") || target.startsWith("mailto:"))
        continue;
      ++links;
      const qsizetype hash = target.indexOf('#');
      const QString page = hash < 0 ? target : target.left(hash);
      const QString anchor = hash < 0 ? QString() : target.mid(hash + 1);
      const QString file = page.isEmpty() ? it.key() : page;
      QVERIFY2(text.contains(file) || (!file.endsWith(".html") && dir.exists(file)),
               qPrintable(it.key() + " links to " + target));
      if (!anchor.isEmpty()) {
        QVERIFY2(text[file].contains("id=\"" + anchor + "\""),
                 qPrintable(it.key() + " links to a missing anchor: " + target));
      }
    }
  }
  QVERIFY(links > 10);
}

void TipsHelpTest::theHelpCoversEveryCommandAndTheTrayClicks() {
  // What a user reads the help for: each command's caption, the tray's
  // ways of being clicked, and the status texts.
  const QDir dir(KELVRIN_SOURCE_DIR "/share/help");
  QString all;
  for (const QString& page : dir.entryList({"*.html"}, QDir::Files)) {
    QFile f(dir.filePath(page));
    QVERIFY(f.open(QIODevice::ReadOnly));
    all += QString::fromUtf8(f.readAll());
  }
  for (const char* phrase :
       {"Check", "Spam delete", "Send/Receive", "Delete All", "Cancel", "General Options",
        "Disable Timed Check", "Close To Tray", "Show Tips", "Invasive mail notification", "Sound",
        "Voice Sounds", "Tray Balloon Notify", "StatusNotifierItem", "XEmbed", "secondary activate",
        "Status: ", "Messages: ", "You have mail"}) {
    QVERIFY2(all.contains(QString::fromUtf8(phrase)), phrase);
  }
}

QTEST_MAIN(TipsHelpTest)
#include "tips_help_test.moc"
