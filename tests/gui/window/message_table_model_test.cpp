// The message table forwards exactly what the core's view model announces:
// checked over a check, a sort, marking and a second check, with the model
// tester watching every signal, and with a selection that must stay on its
// messages through every re-sort.

#include "gui/window/message_table_model.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QtTest>
#include <set>

#include "app/message_view_handlers.h"
#include "gui/window/core_fixture.h"

using kelvrin::gui::MessageTableModel;
using kelvrin::test::CoreFixture;
namespace app = kelvrin::app;

class MessageTableModelTest : public QObject {
  Q_OBJECT

 private:
  static std::set<int> selectedMessageIndexes(const QItemSelectionModel& selection) {
    std::set<int> result;
    for (const QModelIndex& i : selection.selectedRows(app::kColIndex))
      result.insert(i.data().toInt());
    return result;
  }

 private slots:
  void checkSortMarkAndSecondCheckPassTheTester() {
    CoreFixture core(9);
    MessageTableModel model(*core.kv);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    core.check();
    QCOMPARE(model.rowCount(), 9);
    QVERIFY(resets.count() >= 1);
    QCOMPARE(inserted.count(), 1);

    // After a check: highest level first, spam (every third) marked.
    int previous = 11;
    for (int r = 0; r < model.rowCount(); ++r) {
      const int level = model.index(r, 0).data(MessageTableModel::SpamLevelRole).toInt();
      QVERIFY(level <= previous);
      previous = level;
      const bool checked = model.index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
      QCOMPARE(checked, core.kv->VTree1.Row(static_cast<std::size_t>(r)).Checked);
      QCOMPARE(checked, level > 7);
    }

    // Sort by "#", then reverse: the order is the core's.
    model.sort(app::kColIndex);
    for (int r = 0; r < model.rowCount(); ++r)
      QCOMPARE(model.index(r, app::kColIndex).data().toInt(), r);
    model.sort(app::kColIndex);
    QCOMPARE(model.index(0, app::kColIndex).data().toInt(), 8);

    // Mark one row through its check box.
    const QModelIndex box = model.index(3, 0);
    const bool was = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    QVERIFY(model.setData(box, was ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(core.kv->VTree1.Row(3).Checked, !was);

    // A second check refills the view.
    const int resetsBefore = static_cast<int>(resets.count());
    core.check();
    QVERIFY(resets.count() > resetsBefore);
    QCOMPARE(model.rowCount(), 9);
  }

  void markingChangesExactlyThatRow() {
    CoreFixture core(6);
    MessageTableModel model(*core.kv);
    core.check();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const int row = 4;
    const bool was = core.kv->VTree1.Row(row).Checked;
    QVERIFY(
        model.setData(model.index(row, 0), was ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), row);
    QCOMPARE(changed.at(0).at(1).toModelIndex().row(), row);
    // The core's VTree1Checked ran: the delete commands are on.
    QVERIFY(core.kv->Commands.Enabled("BtDelete"));
    // Only the check box column takes a mark.
    QVERIFY(!model.setData(model.index(row, app::kColFrom), Qt::Checked, Qt::CheckStateRole));
  }

  void selectionSurvivesSortsAndIsNotResetByThem() {
    CoreFixture core(12);
    MessageTableModel model(*core.kv);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    core.check();
    QItemSelectionModel selection(&model);
    std::set<int> wanted;
    for (int r : {1, 4, 10}) {
      selection.select(model.index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
      wanted.insert(model.index(r, app::kColIndex).data().toInt());
    }
    selection.setCurrentIndex(model.index(4, 0), QItemSelectionModel::NoUpdate);
    const int currentMessage = model.index(4, app::kColIndex).data().toInt();

    QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    int coreSorts = 0;
    core.kv->VTree1.rowsChanged().add([&coreSorts](const app::ViewChange& c) {
      if (c.What == app::ViewChange::Kind::Sorted) ++coreSorts;
    });
    for (int column : {app::kColSubject, app::kColIndex, app::kColIndex, app::kColSpam}) {
      model.sort(column);
      QCOMPARE(selectedMessageIndexes(selection), wanted);
      QCOMPARE(selection.currentIndex().siblingAtColumn(app::kColIndex).data().toInt(),
               currentMessage);
    }
    // One new layout for every order the core announced, nothing more.
    QVERIFY(coreSorts >= 4);
    QCOMPARE(static_cast<int>(layouts.count()), coreSorts);
    QCOMPARE(resets.count(), 0);
  }

  void cellsShowDisplayTextAndTheEditorTheBytes() {
    CoreFixture core(0);
    kelvrin::test::MailboxMessage m;
    m.id = "u1";
    m.headers = {"From: =?utf-8?B?SsO8cmdlbg==?= <j@example.org>", "To: me@example.com",
                 "Subject: =?utf-8?Q?Gr=C3=BC=C3=9Fe?=", "Date: Fri, 7 Mar 2025 09:00:00 +0000"};
    m.body = {"hi"};
    core.mailbox.mailbox = {m};
    MessageTableModel model(*core.kv);
    core.check();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0, app::kColSubject).data().toString(), QStringLiteral("Grüße"));
    QVERIFY2(model.index(0, app::kColFrom).data().toString().contains(QStringLiteral("Jürgen")),
             qPrintable(model.index(0, app::kColFrom).data().toString()));
    // The editor holds the core's own text of the cell, what the lists see.
    const auto& row = core.kv->VTree1.Row(0);
    QCOMPARE(model.index(0, app::kColFrom).data(Qt::EditRole).toString().toStdString(),
             core.kv->View().VTree1GetText(row, app::kColFrom));
    QCOMPARE(model.index(0, app::kColIndex).data().toString(), QStringLiteral("0"));
    QVERIFY(!model.index(0, app::kColSpam).data().isValid());
    QVERIFY(model.flags(model.index(0, app::kColSpam)) & Qt::ItemIsUserCheckable);
    QVERIFY(!(model.flags(model.index(0, app::kColIndex)) & Qt::ItemIsEditable));
    QCOMPARE(model.headerData(app::kColSpam, Qt::Horizontal).toString(), QStringLiteral("Spam%"));
  }
};

QTEST_MAIN(MessageTableModelTest)
#include "message_table_model_test.moc"
