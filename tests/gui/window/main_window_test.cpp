// The window renders the core: the widgets of each command tag follow their
// own entry of the command model, the status bar follows dfsStatus, the tabs
// and the "You have mail" panel follow their flags, the option items run the
// core's handlers, and the main window's keys reach FormKeyDown.

#include "gui/window/main_window.h"

#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include "app/body_display.h"
#include "app/command_model.h"
#include "app/message_view_handlers.h"
#include "app/window_handlers.h"
#include "gui/window/body_window.h"
#include "gui/window/command_group.h"
#include "gui/window/core_fixture.h"
#include "gui/window/message_tree_view.h"

using kelvrin::gui::CommandGroup;
using kelvrin::gui::MainWindow;
using kelvrin::test::CoreFixture;
namespace app = kelvrin::app;

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void widgetsOfATagFollowTheirOwnEntry_data() {
    QTest::addColumn<int>("tag");
    for (int tag = app::kTagCheck; tag <= app::kTagHelp; ++tag) {
      if (!app::CommandsOfTag(tag).empty()) QTest::newRow(qPrintable(QString::number(tag))) << tag;
    }
  }

  void widgetsOfATagFollowTheirOwnEntry() {
    QFETCH(int, tag);
    CoreFixture core(0);
    auto& commands = core.kv->Commands;
    CommandGroup group(*core.kv, tag);
    const auto names = app::CommandsOfTag(tag);
    for (const auto& name : names)
      group.action(name);
    auto verifyAll = [&] {
      for (const auto& name : names) {
        QAction* a = group.action(name);
        QCOMPARE(a->isVisible(), commands.Visible(name));
        // Qt never enables a hidden action.
        QCOMPARE(a->isEnabled(), commands.Enabled(name) && commands.Visible(name));
        QCOMPARE(a->text().toStdString(), commands.Caption(name));
      }
    };
    // Change one entry at a time: only its own action follows.
    for (const auto& changed : names) {
      const bool visible = !commands.Visible(changed);
      commands.setEnabled(changed, !commands.Enabled(changed));
      commands.setVisible(changed, visible);
      commands.setCaption(changed, "caption of " + changed);
      verifyAll();
      // Shown again, it takes the enabled state it was given while hidden.
      if (!visible) {
        commands.setVisible(changed, true);
        verifyAll();
      }
    }
    // A command of another tag is not this object's.
    const int other = tag == app::kTagCheck ? app::kTagCancel : app::kTagCheck;
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, group.action(app::CommandsOfTag(other).front()));
  }

  void theCoresSwitchesReachToolButtonAndMenuItems() {
    CoreFixture core(0);
    MainWindow window(*core.kv);
    QAction* toolButton = window.commandAction("ToolButton3");
    QAction* menuItem = window.commandAction("BtDelete");
    QAction* trayItem = window.commandAction("DeleteSpam1");
    auto* button = qobject_cast<QToolButton*>(window.toolBar()->widgetForAction(toolButton));
    QVERIFY(button != nullptr);
    QVERIFY(!button->isEnabled());
    core.kv->DelButtonEnable(true);
    QVERIFY(button->isEnabled());
    QVERIFY(menuItem->isEnabled());
    QVERIFY(trayItem->isEnabled());
    core.kv->DelButtonEnable(false);
    QVERIFY(!button->isEnabled() && !menuItem->isEnabled() && !trayItem->isEnabled());
  }

  void checkCommandsAskForACheck() {
    CoreFixture core(0);
    MainWindow window(*core.kv);
    for (const char* name : {"ToolButton2", "btOpen", "CheckNow1"}) {
      core.kv->State.CheckRequested = false;
      window.commandAction(name)->trigger();
      QVERIFY2(core.kv->State.CheckRequested, name);
    }
  }

  void statusTabsAndPanelFollowTheCore() {
    CoreFixture core(0);
    MainWindow window(*core.kv);
    core.kv->dfsStatus.setStatus("Status: Logged off......");
    core.kv->dfsStatus.setPanel(1, "Messages: 3");
    core.kv->dfsStatus.setGauge(42);
    QCOMPARE(window.statusPanel(0)->text(), QStringLiteral("Status: Logged off......"));
    QCOMPARE(window.statusPanel(1)->text(), QStringLiteral("Messages: 3"));
    QCOMPARE(window.gauge()->value(), 42);
    QCOMPARE(window.windowTitle().toStdString(), core.kv->State.TitleText);

    core.kv->TabSheet2Visible = true;
    QVERIFY(window.tabs()->isTabVisible(1));
    core.kv->TabSheet2Visible = false;
    QVERIFY(!window.tabs()->isTabVisible(1));

    core.kv->YHMGroupBox1.InFront = true;
    QVERIFY(window.youHaveMailInFront());
    core.kv->VtreeToFront();
    QVERIFY(!window.youHaveMailInFront());

    // "MenuBar": the menu bar instead of the tool bar.
    window.show();
    window.optionAction("MenuSel")->trigger();
    QVERIFY(core.kv->KVmain->checked("MenuSel"));
    QVERIFY(window.toolBar()->isHidden());
    QVERIFY(!window.menuBar()->isHidden());
  }

  void columnWidthsAreTheCoresAndSurviveAFill() {
    CoreFixture core(5);
    MainWindow window(*core.kv);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    core.check();
    QHeaderView* header = window.messageView()->header();
    // Spam% is 150 from the start; the others as designed.
    const int expected[] = {150, 200, 200, 400, 95};
    for (int c = 0; c < 5; ++c) {
      QCOMPARE(header->sectionSize(c), expected[c]);
      QCOMPARE(core.kv->VTree1.ColumnWidth(c), expected[c]);
    }
    // The user's resizing is the core's width, and stays through a check.
    header->resizeSection(app::kColSubject, 333);
    QCOMPARE(core.kv->VTree1.ColumnWidth(app::kColSubject), 333);
    core.check();
    QCOMPARE(header->sectionSize(app::kColSubject), 333);
  }

  void theViewsKeysAndSelectionReachTheCore() {
    CoreFixture core(9);
    MainWindow window(*core.kv);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    core.check();
    auto* view = window.messageView();
    auto* model = view->model();
    auto& rows = core.kv->VTree1;
    // Three rows selected: two marked (spam comes first) and one not.
    view->setFocus();
    view->selectionModel()->setCurrentIndex(
        model->index(1, 1), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    for (int r : {2, 5}) {
      view->selectionModel()->select(model->index(r, 1),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QCOMPARE(rows.SelectedCount(), std::size_t{3});
    QCOMPARE(rows.FocusedRow(), std::optional<std::size_t>(1));
    const bool before[] = {rows.Row(1).Checked, rows.Row(2).Checked, rows.Row(5).Checked};
    QVERIFY(before[0] && before[1] && !before[2]);
    QTest::keyClick(view, Qt::Key_Space);
    QVERIFY(!rows.Row(1).Checked && !rows.Row(2).Checked && rows.Row(5).Checked);
    // The view shows the marks the core keeps.
    QCOMPARE(model->index(5, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // Type-ahead in the focused cell's column finds a row and focuses it
    // (Space is the mark key, so the search is typed without blanks).
    view->setCurrentIndex(model->index(0, app::kColIndex));
    QTest::keyClicks(view, QStringLiteral("7"));
    const int hit = view->currentIndex().row();
    QCOMPARE(model->index(hit, app::kColIndex).data().toString(), QStringLiteral("7"));
    QCOMPARE(rows.FocusedRow(), std::optional<std::size_t>(static_cast<std::size_t>(hit)));
    QCOMPARE(rows.SelectedCount(), std::size_t{1});

    // F2 opens the editor on the focused cell; the core knows the edit.
    view->setCurrentIndex(model->index(hit, app::kColSubject));
    QTest::keyClick(view, Qt::Key_F2);
    QVERIFY(rows.Editor().Editing);
    QCOMPARE(rows.Editor().Column, int(app::kColSubject));
    QVERIFY(!rows.Editor().SelectedText.empty());
    // A copy command ends the edit, and the editor closes with it.
    window.commandAction("CopyToBannedSubject1")->trigger();
    QVERIFY(!rows.Editor().Editing);
    QVERIFY(!view->cellEditorOpen());
    QVERIFY(rows.Row(static_cast<std::size_t>(hit)).Checked);

    // The context menu's items depend on the column.
    core.kv->View().VTree1ColumnClick(app::kColSubject);
    QVERIFY(window.commandAction("CopyToBannedSubject1")->isVisible());
    QVERIFY(!window.commandAction("CopyToBanned1")->isVisible());
  }

  void optionItemsRunTheirHandlers() {
    CoreFixture core(0);
    MainWindow window(*core.kv);
    QAction* sound = window.optionAction("SndEnable1");
    const bool before = core.kv->KVmain->checked("SndEnable1");
    sound->trigger();
    QCOMPARE(core.kv->KVmain->checked("SndEnable1"), !before);
    QCOMPARE(sound->isChecked(), !before);

    // "Web AutoUpdate" has no click handler: the item stays as the file has it.
    QAction* update = window.optionAction("AutoUpdate1");
    const bool stored = core.kv->KVmain->checked("AutoUpdate1");
    update->trigger();
    QCOMPARE(core.kv->KVmain->checked("AutoUpdate1"), stored);
    QCOMPARE(update->isChecked(), stored);

    // Cable/ADSL: "Redial all Spam levels" cannot be switched off.
    QAction* redial = window.optionAction("RedialAll1");
    QVERIFY(core.kv->KVmain->checked("RedialAll1"));
    redial->trigger();
    QVERIFY(redial->isChecked());

    // An item with a handler of the program's own runs that one instead
    // ("Show Tips" opens the tip dialog), and shows what it left.
    int own = 0;
    window.setOptionHandler("ShowTips1", [&] {
      ++own;
      core.kv->KVmain->setChecked("ShowTips1", false);
    });
    window.optionAction("ShowTips1")->trigger();
    QCOMPARE(own, 1);
    QVERIFY(!window.optionAction("ShowTips1")->isChecked());

    // Switching "Delete All menu item" on asks first; No leaves it off.
    core.prompter.Press("&No");
    window.optionAction("DelAll1")->trigger();
    QVERIFY(!window.optionAction("DelAll1")->isChecked());
    QVERIFY(!window.commandAction("ToolButton5")->isVisible());
  }

  void windowKeysReachFormKeyDown() {
    CoreFixture core(0);
    MainWindow window(*core.kv);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    core.kv->State.CheckRequested = false;
    QTest::keyClick(window.messageView(), Qt::Key_F5);
    QVERIFY(core.kv->State.CheckRequested);
  }

  void delayLetsEventsRunEveryTwentyMilliseconds() {
    // The window answers within 50 ms only if no wait of the core holds
    // the events back longer.
    CoreFixture core(0);
    core.pump.calls = 0;
    const auto start = core.clock.now;
    core.kv->Delay(100);
    QCOMPARE(core.clock.now - start, 100);
    QCOMPARE(core.pump.calls, 5);
    core.pump.calls = 0;
    core.kv->Delay(19);
    QCOMPARE(core.pump.calls, 0);
  }

  void trayMenuIsMadeOfTheTrayCommands() {
    CoreFixture core(0);
    MainWindow window(*core.kv);
    auto menu = window.makeTrayMenu();
    QStringList names;
    for (QAction* a : menu->actions())
      names << a->objectName();
    QCOMPARE(names.first(), QStringLiteral("Exit1"));
    QCOMPARE(names.last(), QStringLiteral("ShowHide1"));
    QVERIFY(names.contains(QStringLiteral("MarkAll1")));
    // "Mark All" with no rows hides itself and its separator.
    core.kv->Commands.setVisible({"MarkAll1", "N3"}, true);
    window.commandAction("MarkAll1")->trigger();
    QVERIFY(!window.commandAction("MarkAll1")->isVisible());
    QVERIFY(!window.commandAction("N3")->isVisible());
  }
};

namespace {

// Takes the body window's place: records what it was given and presses a
// button.
class BodyPort final : public app::WindowPort {
 public:
  explicit BodyPort(int press) : press_(press) {}
  int ShowBody(const std::string& caption, const std::string& text) override {
    captions.push_back(caption);
    texts.push_back(text);
    return press_;
  }
  std::vector<std::string> captions;
  std::vector<std::string> texts;

 private:
  int press_;
};

}  // namespace

class BodyWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void buttonsGiveTheirResults() {
    const QString caption = QStringLiteral("Message from Jürgen");
    for (int i = 0; i < 4; ++i) {
      kelvrin::gui::BodyWindow window(caption, QStringLiteral("one\rtwo\r\nthree"));
      QCOMPARE(window.windowTitle(), caption);
      QCOMPARE(window.textView()->toPlainText(), QStringLiteral("one\ntwo\nthree"));
      QCOMPARE(window.buttons().size(), std::size_t{4});
      window.buttons()[static_cast<std::size_t>(i)]->click();
      QCOMPARE(window.pressed(), app::kBodyButtonOK + i);
    }
    kelvrin::gui::BodyWindow closed(caption, QString());
    static_cast<QDialog&>(closed).reject();
    QCOMPARE(closed.pressed(), app::kBodyButtonOK);
  }

  void theBodyWindowGetsDecodedTextAndItsSpamButtonMarks() {
    CoreFixture core(0);
    kelvrin::test::MailboxMessage m;
    m.id = "u1";
    m.headers = {"From: =?utf-8?B?SsO8cmdlbg==?= <j@example.org>",
                 "To: me@example.com",
                 "Subject: hi",
                 "Date: Fri, 7 Mar 2025 09:00:00 +0000",
                 "Content-Type: text/plain; charset=iso-8859-1",
                 "Content-Transfer-Encoding: quoted-printable"};
    m.body = {"Gr=FC=DFe aus M=FCnchen", "second line"};
    core.mailbox.mailbox = {m};
    auto port = std::make_unique<BodyPort>(app::kBodyButtonSpam);
    BodyPort* body = port.get();
    core.kv->setWindowPort(std::move(port));
    core.check();
    QCOMPARE(core.kv->VTree1.RootNodeCount(), std::size_t{1});
    QVERIFY(!core.kv->VTree1.Row(0).Checked);
    core.kv->VTree1.selectOnly(0);
    core.kv->DisplayBody();
    QCOMPARE(body->texts.size(), std::size_t{1});
    QVERIFY2(body->texts[0].find("Grüße aus München") != std::string::npos, body->texts[0].c_str());
    QVERIFY(body->captions[0].find("Jürgen") != std::string::npos);
    // "Spam" marks the message; nothing went to a message box instead.
    QVERIFY(core.kv->VTree1.Row(0).Checked);
    QVERIFY(core.prompter.Calls().empty());
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int status = 0;
  {
    MainWindowTest window;
    status |= QTest::qExec(&window, argc, argv);
  }
  {
    BodyWindowTest body;
    status |= QTest::qExec(&body, argc, argv);
  }
  return status;
}
#include "main_window_test.moc"
