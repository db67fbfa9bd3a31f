// The main window's hints, context help and window-only items: a hint stays
// up as long as the hint rule says (and not at all with "Hints On" off),
// the caption's "?" starts context help over controls that carry a text,
// "Deleted mail..." opens what the program gives it, and "Use header
// cache" is an option like the others.

#include <QAction>
#include <QHelpEvent>
#include <QStatusBar>
#include <QToolBar>
#include <QToolTip>
#include <QTreeView>
#include <QWhatsThis>
#include <QtTest>

#include "gui/window/core_fixture.h"
#include "gui/window/main_window.h"
#include "gui/window/message_table_model.h"
#include "gui/window/message_tree_view.h"
#include "notify/hint_display.h"

using namespace kelvrin;
using kelvrin::gui::MainWindow;

class HintsHelpTest : public QObject {
  Q_OBJECT

  static void hover(QWidget* widget, QPoint at = {2, 2}) {
    QHelpEvent event(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
  }

 private slots:
  void hintStaysUpByTheRule() {
    test::CoreFixture fx;
    MainWindow w(*fx.kv);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* check = w.toolBar()->widgetForAction(w.commandAction("ToolButton2"));
    QVERIFY(check != nullptr);
    const struct {
      int characters;
      qint64 pause;
    } cases[] = {{10, 2500}, {26, 2600}, {40, 4000}};
    for (const auto& c : cases) {
      check->setToolTip(QString(c.characters, QLatin1Char('h')));
      hover(check);
      QCOMPARE(w.lastHintPause(), c.pause);
      QVERIFY(QToolTip::isVisible());
      QCOMPARE(QToolTip::text(), check->toolTip());
      QToolTip::hideText();
    }

    // A row's hint is the cell's text.
    fx.check();
    QVERIFY(w.messageModel()->rowCount() > 0);
    QTreeView* view = w.messageView();
    const QModelIndex cell = w.messageModel()->index(0, app::kColSubject);
    const QString text = cell.data(Qt::ToolTipRole).toString();
    QVERIFY(!text.isEmpty());
    hover(view->viewport(), view->visualRect(cell).center());
    QCOMPARE(QToolTip::text(), text);
    QCOMPARE(w.lastHintPause(), notify::HintHidePause(text.toStdString()));
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());

    fx.kv->KVmain->setChecked("Hints1", false);
    check->setToolTip(QString(50, QLatin1Char('x')));
    hover(check);
    QVERIFY2(!QToolTip::isVisible(), "no hint with Hints On off");
    QCOMPARE(w.lastHintPause(), notify::HintHidePause(text.toStdString()));
  }

  void captionButtonStartsContextHelp() {
    test::CoreFixture fx;
    MainWindow w(*fx.kv);
    QVERIFY(w.messageView()->whatsThis().contains(QStringLiteral("message view")));
    QVERIFY(w.statusBar()->whatsThis().contains(QStringLiteral("status bar")));
    for (const char* name : {"ToolButton2", "ToolButton3", "ToolButton8", "Help1"}) {
      QWidget* button = w.toolBar()->widgetForAction(w.commandAction(name));
      QVERIFY2(button && !button->whatsThis().isEmpty(), name);
    }
    QVERIFY(!QWhatsThis::inWhatsThisMode());
    w.whatsThisAction()->trigger();
    QVERIFY(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
  }

  void deletedMailItemOpensWhatTheProgramGives() {
    test::CoreFixture fx;
    MainWindow w(*fx.kv);
    QAction* item = w.deletedMailAction();
    QCOMPARE(item->text(), QStringLiteral("Deleted mail..."));
    QVERIFY2(!item->isEnabled(), "nothing to open yet");
    int opened = 0;
    w.setDeletedMailOpener([&opened] { ++opened; });
    QVERIFY(item->isEnabled());
    item->trigger();
    QCOMPARE(opened, 1);
  }

  void headerCacheIsAnOption() {
    test::CoreFixture fx;
    MainWindow w(*fx.kv);
    QAction* option = w.optionAction("HeaderCache1");
    QVERIFY(option != nullptr);
    QCOMPARE(option->text(), QStringLiteral("Use header cache"));
    QVERIFY(option->isChecked());
    option->trigger();
    QVERIFY(!fx.kv->KVmain->checked("HeaderCache1"));
    QVERIFY(!option->isChecked());
  }
};

QTEST_MAIN(HintsHelpTest)
#include "hints_help_test.moc"
