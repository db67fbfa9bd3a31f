// The quick-mail form as the main window opens it: what it shows for a
// reply and a support request, the placeholder body, the address boxes'
// completion and history, the multi-address warning, and the lists'
// context menu with the favourites' "MailTo".

#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "filter/rule_lists.h"
#include "gui/dialogs/edit_list_box_widget.h"
#include "gui/dialogs/lookup_combo_box.h"
#include "gui/dialogs/quick_mail_dialog.h"
#include "gui/window/communications_tab.h"
#include "gui/window/core_fixture.h"
#include "gui/window/quick_mail_part.h"
#include "outgoing/send_mail.h"

#include "dialogs/dialog_driver.h"

using kelvrin::gui::EditListBoxWidget;
using kelvrin::gui::QuickMailPart;
using kelvrin::gui::TKVemForm1;
using kelvrin::test::CoreFixture;
using kelvrin::test::ModalDriver;

namespace {

// A core with the quick-mail part plugged in as the program plugs it.
struct QuickMailFixture {
  CoreFixture core{0};
  kelvrin::outgoing::MailSender sender{*core.kv};
  QuickMailPart* part = nullptr;

  QuickMailFixture() {
    auto owned = std::make_unique<QuickMailPart>(*core.kv, sender, nullptr);
    part = owned.get();
    core.kv->setQuickReply(std::move(owned));
  }
  // Opens a blank quick mail and runs act on its form while it is shown.
  void openBlank(const std::function<void(TKVemForm1&)>& act) {
    ModalDriver driver([&act](QDialog* d) {
      // Focus moves, and with it the boxes' reloading and the warning, only
      // in the active window; a busy machine activates it late.
      d->activateWindow();
      if (!QTest::qWaitForWindowActive(d)) qWarning("the form did not become active");
      act(*qobject_cast<TKVemForm1*>(d));
    });
    core.kv->quickReply().ShowDemForm(nullptr, "", false);
    QVERIFY(driver.shown());
    QVERIFY2(!driver.leftOpen(), "the form was left open");
  }
  std::vector<std::string> stored(const char* section) const {
    return core.kv->IniFile.readSection(section);
  }
};

void typeInto(kelvrin::gui::TLookUpComboBox* box, const QString& text) {
  box->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(box->lineEdit(), text);
}

}  // namespace

class QuickMailTest : public QObject {
  Q_OBJECT

 private slots:
  void okWithThePlaceholderSendsNothingAndSaysCommsError() {
    QuickMailFixture f;
    f.openBlank([](TKVemForm1& form) {
      QCOMPARE(form.windowTitle(),
               QStringLiteral("Kelvrin Quick Mail - this message is not stored"));
      QCOMPARE(form.Memo1()->toPlainText(), QStringLiteral("Enter mail body here"));
      form.OKbtn1()->click();
    });
    QCOMPARE(f.core.prompter.Boxes().size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(f.core.prompter.Boxes()[0].Text),
             QStringLiteral("      Comms Error\rStatus: message NOT sent"));
    QCOMPARE(QString::fromStdString(f.core.kv->dfsStatus.Status()),
             QStringLiteral("Status: message NOT sent"));
  }

  void clickingThePlaceholderClearsItAndEscKeepsTheBody() {
    QuickMailFixture f;
    f.openBlank([](TKVemForm1& form) {
      QTest::mouseClick(form.Memo1()->viewport(), Qt::LeftButton);
      QCOMPARE(form.Memo1()->toPlainText(), QString());
      QTest::keyClicks(form.Memo1(), "see you");
      QTest::mouseClick(form.Memo1()->viewport(), Qt::LeftButton);
      // A written body is not cleared.
      QCOMPARE(form.Memo1()->toPlainText(), QStringLiteral("see you"));
      QTest::keyClick(form.Subject1(), Qt::Key_Escape);
      QVERIFY(!form.isVisible());
    });
    QVERIFY(f.core.prompter.Boxes().empty());
    QCOMPARE(QString::fromStdString(f.part->logic().KeptBody()), QStringLiteral("see you"));
    f.openBlank([](TKVemForm1& form) {
      QCOMPARE(form.Memo1()->toPlainText(), QStringLiteral("see you"));
      form.Cancelbtn()->click();
    });
  }

  void replyShowsTheSwappedAddressesAndTheHintsFollowTheOption() {
    QuickMailFixture f;
    kelvrin::filter::MessageNode record;
    record.From = "Pal <pal@example.net>";
    record.SendTo = "Me <me@example.com>";
    record.Subject = "plans";
    f.core.kv->KVmain->setChecked("Hints1", true);
    ModalDriver driver([](QDialog* d) {
      auto& form = *qobject_cast<TKVemForm1*>(d);
      QCOMPARE(form.ComboBox1()->currentText(), QStringLiteral("me@example.com"));
      QCOMPARE(form.ComboBox2()->currentText(), QStringLiteral("pal@example.net"));
      QCOMPARE(form.Subject1()->text(), QStringLiteral("plans"));
      QCOMPARE(form.Memo1()->toPlainText(), QStringLiteral("> quoted"));
      QCOMPARE(form.Memo1()->textCursor().position(), 0);
      QVERIFY(form.ComboBox2()->toolTip().startsWith("To add a new address"));
      QVERIFY(!form.Memo1()->toolTip().isEmpty());
      form.Cancelbtn()->click();
    });
    f.core.kv->quickReply().Open(record, "> quoted");
    QVERIFY(driver.shown());

    f.core.kv->KVmain->setChecked("Hints1", false);
    f.openBlank([](TKVemForm1& form) {
      QVERIFY(form.ComboBox2()->toolTip().isEmpty());
      form.Cancelbtn()->click();
    });
  }

  void supportRequestGoesToSupport() {
    QuickMailFixture f;
    f.core.kv->KVWForm1->setText("KVWMainEmail1", "Me <me@example.com>");
    ModalDriver driver([](QDialog* d) {
      auto& form = *qobject_cast<TKVemForm1*>(d);
      QCOMPARE(form.ComboBox1()->currentText(), QStringLiteral("me@example.com"));
      QCOMPARE(form.ComboBox2()->currentText(),
               QString::fromLatin1(kelvrin::filter::kSupportAddress.data(),
                                   static_cast<int>(kelvrin::filter::kSupportAddress.size())));
      QCOMPARE(form.Subject1()->text(), QStringLiteral("Kelvrin Support Request"));
      form.Cancelbtn()->click();
    });
    f.core.kv->quickReply().ShowDemForm(nullptr, "", true);
    QVERIFY(driver.shown());
  }

  void enterStoresAnAddressOnceInLowerCase() {
    QuickMailFixture f;
    f.openBlank([](TKVemForm1& form) {
      typeInto(form.ComboBox2(), "Pal@Example.NET");
      QTest::keyClick(form.ComboBox2()->lineEdit(), Qt::Key_Return);
      QVERIFY2(form.isVisible(), "Enter in an address box must not close the form");
      QTest::keyClick(form.ComboBox2()->lineEdit(), Qt::Key_Return);
      QCOMPARE(form.ComboBox2()->count(), 1);
      form.Cancelbtn()->click();
    });
    QCOMPARE(f.stored("ComboBox2"), std::vector<std::string>{"pal@example.net"});
    QVERIFY(f.stored("ComboBox1").empty());
  }

  void typedPrefixCompletesAndBackspaceDoesNotCompleteAgain() {
    QuickMailFixture f;
    f.core.kv->IniFile.writeString("ComboBox2", "me@example.com", "");
    f.core.kv->IniFile.writeString("ComboBox2", "bob@example.net", "");
    f.openBlank([](TKVemForm1& form) {
      auto* box = form.ComboBox2();
      typeInto(box, "bo");
      QCOMPARE(box->count(), 2);
      QCOMPARE(box->currentText(), QStringLiteral("bob@example.net"));
      QCOMPARE(box->lineEdit()->selectedText(), QStringLiteral("b@example.net"));
      QTest::keyClick(box->lineEdit(), Qt::Key_Backspace);
      QCOMPARE(box->currentText(), QStringLiteral("bo"));
      QVERIFY(!box->lineEdit()->hasSelectedText());
      QTest::keyClicks(box->lineEdit(), "x");
      QCOMPARE(box->currentText(), QStringLiteral("box"));  // no item starts with it
      form.Cancelbtn()->click();
    });
  }

  void ctrlDoubleClickClearsTheHistory() {
    QuickMailFixture f;
    f.core.kv->IniFile.writeString("ComboBox2", "a@example.net", "");
    f.core.kv->IniFile.writeString("ComboBox2", "b@example.net", "");
    f.openBlank([](TKVemForm1& form) {
      auto* box = form.ComboBox2();
      box->setFocus(Qt::TabFocusReason);
      box->reloadItems();
      QCOMPARE(box->count(), 2);
      QTest::mouseDClick(box->lineEdit(), Qt::LeftButton, Qt::ControlModifier);
      QCOMPARE(box->count(), 1);
      QCOMPARE(box->currentText(), QStringLiteral("me@example.com"));
      form.Cancelbtn()->click();
    });
    QVERIFY(f.stored("ComboBox2").empty());
  }

  void twoAddressesWarnWhenTheBoxIsLeft() {
    QuickMailFixture f;
    f.openBlank([](TKVemForm1& form) {
      QVERIFY(!form.AddsWarn1()->isVisible());
      typeInto(form.ComboBox2(), "a@x.org;b@y.net");
      QVERIFY(!form.AddsWarn1()->isVisible());
      form.Subject1()->setFocus(Qt::TabFocusReason);
      QTRY_VERIFY(form.AddsWarn1()->isVisible());
      form.Cancelbtn()->click();
    });
  }

  void eachListOffersItsMenuItems() {
    CoreFixture core(0);
    kelvrin::filter::TEditListBox model;
    for (const char* e : {"one", "two", "three"})
      model.Add(e);
    EditListBoxWidget list(model);
    list.resize(200, 200);
    list.show();
    const auto shownItems = [&list](kelvrin::outgoing::ListMenuOwner owner) {
      list.setListMenu(owner);
      list.prepareListMenu(list.visualItemRect(list.item(0)).center());
      QStringList names;
      for (QAction* a : list.listMenu()->actions())
        if (a->isVisible()) names << a->text();
      return names;
    };
    using Owner = kelvrin::outgoing::ListMenuOwner;
    QCOMPARE(shownItems(Owner::Favourites), (QStringList{"MailTo", "Delete"}));
    QCOMPARE(shownItems(Owner::Websites), (QStringList{"Delete"}));
    QCOMPARE(shownItems(Owner::RuleList), (QStringList{"Edit", "Delete"}));

    // The entry under the pointer is the one acted on.
    list.prepareListMenu(list.visualItemRect(list.item(2)).center());
    QCOMPARE(model.ItemIndex(), 2);
    list.listMenu()->findChild<QAction*>("Edit1")->trigger();
    QVERIFY(list.editor()->isVisible());
    list.prepareListMenu(list.visualItemRect(list.item(1)).center());
    list.listMenu()->findChild<QAction*>("Delete1")->trigger();
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.item(0)->text(), QStringLiteral("one"));
    QCOMPARE(list.item(1)->text(), QStringLiteral("three"));
  }

  void mailToWritesToEverySelectedFavourite() {
    QuickMailFixture f;
    auto& favourites = *f.core.kv->Favourites1;
    favourites.Clear();
    favourites.Add("ann@x.org,192.0.2.1");
    favourites.Add("bob@y.net");
    favourites.Click({false, false}, 0);
    kelvrin::gui::CommunicationsTab tab(*f.core.kv);
    tab.setQuickMail(f.part);
    tab.show();
    EditListBoxWidget* list = tab.favourites();
    // Shift+click selects both (Ctrl+click moves an entry); the menu opens over the second.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      list->visualItemRect(list->item(1)).center());
    list->prepareListMenu(list->visualItemRect(list->item(1)).center());
    QCOMPARE(favourites.SelCount(), 2);
    ModalDriver driver([](QDialog* d) {
      auto& form = *qobject_cast<TKVemForm1*>(d);
      QCOMPARE(form.ComboBox2()->currentText(), QStringLiteral("ann@x.org;bob@y.net"));
      QVERIFY(form.AddsWarn1()->isVisible());
      form.Cancelbtn()->click();
    });
    list->listMenu()->findChild<QAction*>("MailTo1")->trigger();
    QVERIFY(driver.shown());
    QVERIFY(f.core.prompter.Boxes().empty());  // a cancelled MailTo says nothing
  }
};

QTEST_MAIN(QuickMailTest)
#include "quick_mail_test.moc"
