// The rule-list widget over TEditListBox: what the user sees after each key
// and click, and that the entries and the file follow.

#include "gui/dialogs/edit_list_box_widget.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "filter/edit_list_box.h"

namespace gui = kelvrin::gui;
namespace filter = kelvrin::filter;

namespace {

QStringList shown(const QListWidget& w) {
  QStringList out;
  for (int i = 0; i < w.count(); ++i)
    out << w.item(i)->text();
  return out;
}

QList<int> selectedRows(const QListWidget& w) {
  QList<int> rows;
  for (int i = 0; i < w.count(); ++i) {
    if (w.item(i)->isSelected()) rows << i;
  }
  return rows;
}

// A sorted list with entries, shown in a window so that entries have places.
struct Fixture {
  filter::TEditListBox model;
  std::unique_ptr<gui::EditListBoxWidget> widget;

  explicit Fixture(std::vector<std::string> entries = {"alpha", "bravo", "charlie"}) {
    model.setSorted(true);
    for (auto& e : entries)
      model.Add(std::move(e));
    widget = std::make_unique<gui::EditListBoxWidget>(model);
    widget->resize(240, 200);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
  }

  QPoint at(int row) const { return widget->visualItemRect(widget->item(row)).center(); }
  QWidget* viewport() const { return widget->viewport(); }
  void click(int row, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(viewport(), Qt::LeftButton, mods, at(row));
  }
  void key(int k, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(widget.get(), static_cast<Qt::Key>(k), mods);
  }
};

}  // namespace

class EditListBoxWidgetTest : public QObject {
  Q_OBJECT

 private slots:
  void aLoadedFileShowsSortedAndSavesInThatOrder();
  void keys_data();
  void keys();
  void theEditorStoresOnEnterAndDropsOnEsc();
  void doubleClickOpensTheEditorAndItsReleaseKeepsItOpen();
  void typedCharactersAreSwallowedButSpaceEdits();
  void arrowKeysMoveTheModelsSelection();
  void shiftClickSelectsARangeAndAPlainClickOneEntry();
  void ctrlDragMovesTheSelectedEntryAndShowsTheDragImage();
  void entriesChangedOnlyWhenEntriesChange();
};

void EditListBoxWidgetTest::aLoadedFileShowsSortedAndSavesInThatOrder() {
  QTemporaryDir dir;
  {
    QFile f(dir.filePath("KelvBanEM.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("b\r\na\r\n\r\n");
  }
  filter::TEditListBox model;
  model.setSorted(true);
  model.setAutoFileName("KelvBanEM.txt");
  model.setListFileFolder(dir.path().toStdString());
  model.loadList();
  gui::EditListBoxWidget widget(model);
  QCOMPARE(shown(widget), (QStringList{"", "a", "b"}));
  QCOMPARE(selectedRows(widget), QList<int>{0});
  QCOMPARE(widget.toolTip().count('\n'), 3);  // the edit keys, one per line

  model.SaveList();
  QFile f(dir.filePath("KelvBanEM.txt"));
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), QByteArray("\r\na\r\nb\r\n"));
}

void EditListBoxWidgetTest::keys_data() {
  QTest::addColumn<QStringList>("entries");
  QTest::addColumn<int>("selected");  // -1: nothing selected
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<QStringList>("expectedEntries");
  QTest::addColumn<QList<int>>("expectedSelection");
  QTest::addColumn<int>("editorOn");  // the row the editor covers, -1 for none

  const QStringList abc{"alpha", "bravo", "charlie"};
  const int none = Qt::NoModifier;
  QTest::newRow("Delete in the middle selects the next")
      << abc << 1 << int(Qt::Key_Delete) << none << QStringList{"alpha", "charlie"} << QList<int>{1}
      << -1;
  QTest::newRow("Delete of the last of three selects the new last")
      << abc << 2 << int(Qt::Key_Delete) << none << QStringList{"alpha", "bravo"} << QList<int>{1}
      << -1;
  QTest::newRow("Delete of the only entry leaves nothing selected")
      << QStringList{"solo"} << 0 << int(Qt::Key_Delete) << none << QStringList{} << QList<int>{}
      << -1;
  QTest::newRow("Insert puts new at the selected place and edits it")
      << abc << 1 << int(Qt::Key_Insert) << none << QStringList{"alpha", "new", "bravo", "charlie"}
      << QList<int>{1} << 1;
  QTest::newRow("Insert without a selection in a filled list does nothing")
      << abc << -1 << int(Qt::Key_Insert) << none << abc << QList<int>{} << -1;
  QTest::newRow("Insert into an empty list adds new and edits it")
      << QStringList{} << -1 << int(Qt::Key_Insert) << none << QStringList{"new"} << QList<int>{0}
      << 0;
  QTest::newRow("keypad plus adds new at its sorted place")
      << abc << 0 << int(Qt::Key_Plus) << int(Qt::KeypadModifier)
      << QStringList{"alpha", "bravo", "charlie", "new"} << QList<int>{3} << -1;
  QTest::newRow("the main keyboard's plus adds nothing")
      << abc << 0 << int(Qt::Key_Plus) << none << abc << QList<int>{0} << -1;
  QTest::newRow("F2 edits the selected entry")
      << abc << 2 << int(Qt::Key_F2) << none << abc << QList<int>{2} << 2;
  QTest::newRow("F2 without a selection edits nothing")
      << abc << -1 << int(Qt::Key_F2) << none << abc << QList<int>{} << -1;
}

void EditListBoxWidgetTest::keys() {
  QFETCH(QStringList, entries);
  QFETCH(int, selected);
  QFETCH(int, key);
  QFETCH(int, modifiers);
  QFETCH(QStringList, expectedEntries);
  QFETCH(QList<int>, expectedSelection);
  QFETCH(int, editorOn);

  std::vector<std::string> e;
  for (const QString& s : entries)
    e.push_back(s.toStdString());
  Fixture f(e);
  f.model.setItemIndex(selected);
  f.widget->refresh();

  f.key(key, Qt::KeyboardModifiers(modifiers));
  QCOMPARE(shown(*f.widget), expectedEntries);
  QCOMPARE(selectedRows(*f.widget), expectedSelection);
  QCOMPARE(f.widget->editor()->isVisible(), editorOn >= 0);
  if (editorOn >= 0) {
    QCOMPARE(f.widget->editor()->geometry(), f.widget->visualItemRect(f.widget->item(editorOn)));
    QCOMPARE(f.widget->editor()->text(), f.widget->item(editorOn)->text());
    QCOMPARE(f.widget->editor()->selectedText(), f.widget->item(editorOn)->text());
  }
}

void EditListBoxWidgetTest::theEditorStoresOnEnterAndDropsOnEsc() {
  Fixture f;
  f.click(1);
  f.key(Qt::Key_F2);
  QLineEdit* editor = f.widget->editor();
  QVERIFY(editor->isVisible());
  QTest::keyClicks(editor, "zulu");
  QTest::keyClick(editor, Qt::Key_Return);
  QVERIFY(!editor->isVisible());
  // The entry keeps its place until the list is loaded again.
  QCOMPARE(shown(*f.widget), (QStringList{"alpha", "zulu", "charlie"}));

  f.key(Qt::Key_F2);
  QVERIFY(editor->isVisible());
  QTest::keyClicks(editor, "dropped");
  QTest::keyClick(editor, Qt::Key_Escape);
  QVERIFY(!editor->isVisible());
  QCOMPARE(shown(*f.widget), (QStringList{"alpha", "zulu", "charlie"}));

  // A click elsewhere closes an open editor without storing it.
  f.key(Qt::Key_F2);
  QTest::keyClicks(editor, "lost");
  f.click(0);
  QVERIFY(!editor->isVisible());
  QCOMPARE(shown(*f.widget), (QStringList{"alpha", "zulu", "charlie"}));
  QCOMPARE(selectedRows(*f.widget), QList<int>{0});
}

void EditListBoxWidgetTest::doubleClickOpensTheEditorAndItsReleaseKeepsItOpen() {
  Fixture f;
  // What a desktop delivers: press, release, press, double click, release.
  f.click(2);
  QTest::mousePress(f.viewport(), Qt::LeftButton, {}, f.at(2));
  QTest::mouseDClick(f.viewport(), Qt::LeftButton, {}, f.at(2));
  QTest::mouseRelease(f.viewport(), Qt::LeftButton, {}, f.at(2));
  QVERIFY(f.widget->editor()->isVisible());
  QCOMPARE(f.widget->editor()->text(), QStringLiteral("charlie"));
  QCOMPARE(selectedRows(*f.widget), QList<int>{2});
}

void EditListBoxWidgetTest::typedCharactersAreSwallowedButSpaceEdits() {
  Fixture f;
  f.click(0);
  QTest::keyClicks(f.widget.get(), "c");  // no type-ahead to "charlie"
  QCOMPARE(selectedRows(*f.widget), QList<int>{0});
  QVERIFY(!f.widget->editor()->isVisible());
  f.key(Qt::Key_Space);
  QVERIFY(f.widget->editor()->isVisible());
  QCOMPARE(f.widget->editor()->text(), QStringLiteral("alpha"));
}

void EditListBoxWidgetTest::arrowKeysMoveTheModelsSelection() {
  Fixture f;
  f.click(0);
  f.key(Qt::Key_Down);
  f.key(Qt::Key_Down);
  QCOMPARE(f.model.ItemIndex(), 2);
  f.key(Qt::Key_Up);
  QCOMPARE(f.model.ItemIndex(), 1);
  // Delete then acts on the entry the keys reached.
  f.key(Qt::Key_Delete);
  QCOMPARE(shown(*f.widget), (QStringList{"alpha", "charlie"}));
}

void EditListBoxWidgetTest::shiftClickSelectsARangeAndAPlainClickOneEntry() {
  Fixture f({"a", "b", "c", "d"});
  f.click(0);
  f.click(2, Qt::ShiftModifier);
  QCOMPARE(selectedRows(*f.widget), (QList<int>{0, 1, 2}));
  QCOMPARE(f.model.SelCount(), 3);
  f.click(3);
  QCOMPARE(selectedRows(*f.widget), QList<int>{3});
  QCOMPARE(shown(*f.widget), (QStringList{"a", "b", "c", "d"}));  // nothing moved
}

void EditListBoxWidgetTest::ctrlDragMovesTheSelectedEntryAndShowsTheDragImage() {
  Fixture f({"a", "b", "c", "d"});
  f.click(0);
  QTest::mousePress(f.viewport(), Qt::LeftButton, Qt::ControlModifier, f.at(0));
  QLabel* image = f.widget->dragImage();
  QVERIFY(image->isVisible());
  QCOMPARE(image->text(), QStringLiteral("a"));
  QCOMPARE(image->palette().color(QPalette::Window), QColor(Qt::yellow));
  QTest::mouseMove(f.viewport(), f.at(2));
  QCOMPARE(image->pos(), f.at(2));
  QTest::mouseRelease(f.viewport(), Qt::LeftButton, Qt::ControlModifier, f.at(2));
  QVERIFY(!image->isVisible());
  // Out of order in the sorted list until it is loaded again.
  QCOMPARE(shown(*f.widget), (QStringList{"b", "c", "a", "d"}));
  QCOMPARE(selectedRows(*f.widget), QList<int>{2});
  QVERIFY(!f.model.Dragging());

  // A drag without Ctrl moves nothing and shows no image.
  QTest::mousePress(f.viewport(), Qt::LeftButton, {}, f.at(2));
  QVERIFY(!image->isVisible());
  QTest::mouseRelease(f.viewport(), Qt::LeftButton, {}, f.at(0));
  QCOMPARE(shown(*f.widget), (QStringList{"b", "c", "a", "d"}));
  QCOMPARE(selectedRows(*f.widget), QList<int>{0});
}

void EditListBoxWidgetTest::entriesChangedOnlyWhenEntriesChange() {
  Fixture f;
  QSignalSpy spy(f.widget.get(), &gui::EditListBoxWidget::entriesChanged);
  f.click(1);
  f.key(Qt::Key_Down);
  QCOMPARE(spy.count(), 0);
  f.key(Qt::Key_Delete);
  QCOMPARE(spy.count(), 1);
  f.key(Qt::Key_F2);
  QTest::keyClicks(f.widget->editor(), "x");
  QTest::keyClick(f.widget->editor(), Qt::Key_Return);
  QCOMPARE(spy.count(), 2);
}

QTEST_MAIN(EditListBoxWidgetTest)
#include "edit_list_box_widget_test.moc"
