// The Communications tab over the core: the greeting text is editable only
// for a greeting, Invite opens the favourite's invitation link, and Message
// without a chosen favourite says so in the program's own box.

#include "gui/window/communications_tab.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "gui/window/core_fixture.h"

using kelvrin::gui::CommunicationsTab;
using kelvrin::test::CoreFixture;

namespace {

class RecordingShell final : public kelvrin::outgoing::Shell {
 public:
  bool OpenLink(const std::string& link) override {
    links.push_back(link);
    return true;
  }
  std::vector<std::string> links;
};

}  // namespace

class CommunicationsTabTest : public QObject {
  Q_OBJECT

 private slots:
  void greetingTextFollowsTheGreetingType() {
    CoreFixture core(0);
    CommunicationsTab tab(*core.kv);
    auto* greeting = tab.findChild<QLineEdit*>(QStringLiteral("FlashGreetEdit"));
    QVERIFY(greeting);
    QVERIFY(!greeting->isEnabled());
    const auto buttons = tab.findChildren<QRadioButton*>();
    QCOMPARE(buttons.size(), 6);
    QVERIFY(!buttons[0]->isEnabled());
    buttons[2]->click();
    QVERIFY(greeting->isEnabled());
    buttons[3]->click();
    QVERIFY(!greeting->isEnabled());
  }

  void inviteOpensTheFocusedFavouritesLink() {
    CoreFixture core(0);
    auto& favourites = *core.kv->Favourites1;
    favourites.Clear();
    favourites.Add("pal@example.net,192.0.2.1");
    favourites.setItemIndex(0);
    CommunicationsTab tab(*core.kv);
    auto shell = std::make_unique<RecordingShell>();
    auto* links = shell.get();
    tab.setShell(std::move(shell));
    tab.findChild<QPushButton*>(QStringLiteral("InviteBtn"))->click();
    QCOMPARE(links->links.size(), std::size_t{1});
    QCOMPARE(
        QString::fromStdString(links->links[0]),
        QString::fromStdString(kelvrin::outgoing::InvitationLink("pal@example.net,192.0.2.1")));
  }

  void messageWithoutAFavouriteIsRefused() {
    CoreFixture core(0);
    core.kv->Favourites1->Clear();
    CommunicationsTab tab(*core.kv);
    tab.findChild<QPushButton*>(QStringLiteral("FlashButton"))->click();
    QCOMPARE(core.prompter.Boxes().size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(core.prompter.Boxes()[0].Text),
             QStringLiteral("Message request failed:\rSelect destination(s) in Favourites"));
  }
};

QTEST_MAIN(CommunicationsTabTest)
#include "communications_tab_test.moc"
