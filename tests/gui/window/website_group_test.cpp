// The "WebSite Monitor" group: leaving the list or releasing Enter in it
// puts the list in order, and the check boxes follow the monitor.

#include "gui/window/website_group.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "filter/rule_lists.h"
#include "gui/dialogs/edit_list_box_widget.h"
#include "settings/forms.h"
#include "support/fake_prompter.h"

#include "update/website_monitor.h"

namespace {

class NoProbe final : public kelvrin::update::HostProbe {
 public:
  bool Probe(const std::string&) override { return false; }
};

QStringList shown(const QListWidget& w) {
  QStringList out;
  for (int i = 0; i < w.count(); ++i)
    out << w.item(i)->text();
  return out;
}

}  // namespace

class WebsiteGroupTest : public QObject {
  Q_OBJECT
 private slots:
  void leavingTheListEnablesTheBoxesForOwnSites();
  void enterInTheListTurnsAListWithoutSitesOff();
};

struct Fixture {
  std::unique_ptr<kelvrin::filter::TEditListBox> list =
      kelvrin::filter::makeWebListBox1("/nonexistent-home");
  std::unique_ptr<kelvrin::settings::Form> options = kelvrin::settings::makeKVmainForm();
  kelvrin::test::FakePrompter prompter;
  NoProbe probe;
  kelvrin::update::WebsiteMonitor monitor{*list, *options, prompter, probe};
  QWidget window;
  kelvrin::gui::WebsiteGroup* group = nullptr;
  QLineEdit* other = nullptr;

  Fixture() {
    monitor.WebListBox1Exit();
    auto* layout = new QVBoxLayout(&window);
    group = new kelvrin::gui::WebsiteGroup(monitor, *list, &window);
    other = new QLineEdit(&window);
    layout->addWidget(group);
    layout->addWidget(other);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
  }
};

void WebsiteGroupTest::leavingTheListEnablesTheBoxesForOwnSites() {
  Fixture f;
  QVERIFY(!f.group->active()->isEnabled());
  QVERIFY(!f.group->keepLogfile()->isEnabled());

  f.list->Add("my.example");
  f.group->list()->refresh();
  f.window.activateWindow();
  f.group->list()->setFocus();
  QTRY_VERIFY(f.group->list()->hasFocus());
  f.other->setFocus();
  QTRY_VERIFY(f.group->active()->isEnabled());
  QVERIFY(f.group->keepLogfile()->isEnabled());
  QCOMPARE(shown(*f.group->list()), QStringList{QStringLiteral("my.example")});

  QTest::mouseClick(f.group->active(), Qt::LeftButton);
  QVERIFY(f.options->checked("wsactive1"));
  QVERIFY(f.group->active()->isChecked());
}

void WebsiteGroupTest::enterInTheListTurnsAListWithoutSitesOff() {
  Fixture f;
  f.list->Clear();
  f.list->Add("my.example");
  f.monitor.WebListBox1Exit();
  f.monitor.setActive(true);
  QVERIFY(f.group->active()->isChecked());

  f.list->Clear();
  f.group->list()->refresh();
  QTest::keyRelease(f.group->list(), Qt::Key_Return);
  QCOMPARE(shown(*f.group->list()),
           QStringList{QString::fromLatin1(kelvrin::filter::kPlaceholderHost.data())});
  QVERIFY(!f.group->active()->isChecked());
  QVERIFY(!f.group->active()->isEnabled());
  QVERIFY(!f.options->checked("wsactive1"));
}

QTEST_MAIN(WebsiteGroupTest)
#include "website_group_test.moc"
