// The main window's own handlers: option items, the start-up entry, closing
// to the tray, the first paint and the tray clicks.

#include "app/window_handlers.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"

namespace kelvrin::test {
namespace {

class RecordingStartup final : public app::StartupEntry {
 public:
  explicit RecordingStartup(std::vector<int>& modes) : modes_(modes) {}
  bool SetRunEntry(int Mode) override {
    modes_.push_back(Mode);
    return false;
  }

 private:
  std::vector<int>& modes_;
};

class RecordingWindow final : public app::WindowPort {
 public:
  explicit RecordingWindow(std::vector<std::string>& calls) : calls_(calls) {}
  void MinimizeApplication() override { calls_.push_back("minimize"); }
  void ShowWindowFromTray() override { calls_.push_back("show"); }
  void ShowServerTab() override { calls_.push_back("server tab"); }

 private:
  std::vector<std::string>& calls_;
};

class WindowHandlersTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    kv->setStartupEntry(std::make_unique<RecordingStartup>(runEntry));
    kv->setWindowPort(std::make_unique<RecordingWindow>(window));
  }
  app::WindowHandlers& handlers() { return kv->Window(); }
  std::vector<int> runEntry;
  std::vector<std::string> window;
};

struct OptionCase {
  const char* name;
  const char* option;
  bool before;
  int connectionType;  // KVWccntypeGroup
  const char* answer;  // the button pressed on the question, "" for none asked
  bool after;
  std::vector<int> entry;  // SetRunEntry modes in order
};

class OptionClickTest : public WindowHandlersTest,
                        public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionClickTest, InvertsTheItemAndAppliesItsRule) {
  const OptionCase& c = GetParam();
  kv->KVmain->setChecked(c.option, c.before);
  kv->KVWForm1->setValue("KVWccntypeGroup", c.connectionType);
  if (*c.answer) prompter.Press(c.answer);
  ASSERT_TRUE(handlers().OptionClick(c.option));
  EXPECT_EQ(kv->KVmain->checked(c.option), c.after);
  EXPECT_EQ(prompter.Calls().size(), *c.answer ? 1u : 0u);
  EXPECT_EQ(runEntry, c.entry);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionClickTest,
    ::testing::Values(
        OptionCase{"RedialAllStaysOnWithCable", "RedialAll1", true, 0, "", true, {}},
        OptionCase{"RedialAllGoesOffWithDialUp", "RedialAll1", true, 1, "", false, {}},
        OptionCase{"PlainOptionInverts", "CloseToTray1", false, 1, "", true, {}},
        OptionCase{"DelAllNoLeavesItOff", "DelAll1", false, 1, "&No", false, {}},
        OptionCase{"DelAllYesTurnsItOn", "NonInterDel1", false, 1, "&Yes", true, {}},
        OptionCase{"DelAllOffAsksNothing", "DelAll1", true, 1, "", false, {}},
        OptionCase{"StartupNoLeavesNoEntry", "WinStart1", false, 1, "&No", false, {1}},
        OptionCase{"StartupYesWritesTheEntry", "WinStart1", false, 1, "&Yes", true, {1, 0}},
        OptionCase{"StartupOffDeletesWithoutAsking", "WinStart1", true, 1, "", false, {1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowHandlersTest, DeleteAllCommandsFollowTheOptionNotTheSender) {
  kv->KVmain->setChecked("DelAll1", false);
  prompter.Press("&Yes");
  handlers().OptionClick("NonInterDel1");
  EXPECT_FALSE(kv->Commands.Visible("ToolButton5")) << "DelAll1 is still off";
  prompter.Press("&Yes");
  handlers().OptionClick("DelAll1");
  EXPECT_TRUE(kv->Commands.Visible("ToolButton5"));
  EXPECT_TRUE(kv->Commands.Enabled("btDelall1"));
}

TEST_F(WindowHandlersTest, MenuBarOptionSwapsTheToolBarForTheMenu) {
  EXPECT_TRUE(kv->Commands.Visible("ToolBar1"));
  EXPECT_FALSE(kv->Commands.Visible("MainMenu1"));
  handlers().OptionClick("MenuSel");
  EXPECT_FALSE(kv->Commands.Visible("ToolBar1"));
  EXPECT_TRUE(kv->Commands.Visible("MainMenu1"));
}

TEST_F(WindowHandlersTest, CloseToTrayHidesTheVisibleWindowAndClosesTheHiddenOne) {
  kv->KVmain->setChecked("CloseToTray1", true);
  kv->State.MainWindowVisible = true;
  EXPECT_FALSE(handlers().FormCloseQuery());
  EXPECT_EQ(window, (std::vector<std::string>{"minimize"}));
  EXPECT_EQ(kv->Commands.Caption("ShowHide1"), "Show");
  EXPECT_TRUE(handlers().FormCloseQuery()) << "Exit from the tray while hidden ends the program";
  EXPECT_FALSE(kv->ETimer2.Enabled());
}

TEST_F(WindowHandlersTest, FirstRunPaintShowsTheWelcomeOnceAndCancelledRunCloses) {
  kv->State.StartPhase = app::kStartFirstRun;
  EXPECT_EQ(handlers().FormPaint(), app::WindowHandlers::PaintAction::Maximize);
  ASSERT_EQ(prompter.Calls().size(), 1u);
  EXPECT_EQ(prompter.Calls()[0].Caption, "Welcome to Kelvrin");
  EXPECT_EQ(kv->State.StartPhase, app::kStartFirstShowDone);
  EXPECT_EQ(handlers().FormPaint(), app::WindowHandlers::PaintAction::None);
  EXPECT_EQ(prompter.Calls().size(), 1u);
  kv->State.StartPhase = app::kStartClosing;
  EXPECT_EQ(handlers().FormPaint(), app::WindowHandlers::PaintAction::Close);
}

TEST_F(WindowHandlersTest, ShowHideAlternatesAndTracksTheWindow) {
  kv->State.MainWindowVisible = false;
  handlers().ShowHide1Click();
  EXPECT_TRUE(kv->State.MainWindowVisible);
  EXPECT_EQ(kv->Commands.Caption("ShowHide1"), "Hide");
  handlers().ShowHide1Click();
  EXPECT_FALSE(kv->State.MainWindowVisible);
  EXPECT_EQ(kv->Commands.Caption("ShowHide1"), "Show");
  EXPECT_EQ(window, (std::vector<std::string>{"server tab", "show", "minimize"}));
}

TEST_F(WindowHandlersTest, PressAndHoldRequestsACheckThatReleaseWithdraws) {
  handlers().TrayIcon1MouseDown();
  EXPECT_TRUE(kv->State.CheckRequested);
  handlers().TrayIcon1MouseUp();
  EXPECT_FALSE(kv->State.CheckRequested);
  handlers().Timer2Timer();
  EXPECT_TRUE(script.Finished()) << "no session was opened";
}

TEST_F(WindowHandlersTest, RequestedCheckRunsOnTheSchedulerTick) {
  script.AddSession(CheckSession({SpamMessage(1, "u1")}, true));
  kv->btOpenClick();
  handlers().Timer2Timer();
  EXPECT_TRUE(script.Finished());
  EXPECT_FALSE(kv->State.CheckRequested);
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 1u);
}

TEST_F(WindowHandlersTest, SavedOptionsSurviveARestartUnlessTheFirstRunWasCancelled) {
  kv->KVmain->setChecked("CloseToTray1", true);
  kv->SaveOptions();
  makeApp();
  EXPECT_TRUE(kv->KVmain->checked("CloseToTray1"));
  kv->KVmain->setChecked("CloseToTray1", false);
  kv->IniVal1.Automatic = false;
  kv->SaveOptions();
  makeApp();
  EXPECT_TRUE(kv->KVmain->checked("CloseToTray1"));
}

class AnsweringWizard final : public app::SettingsWizard {
 public:
  AnsweringWizard(int result, int& shown) : result_(result), shown_(shown) {}
  int ShowModal(app::TKVmain&) override {
    ++shown_;
    return result_;
  }

 private:
  int result_;
  int& shown_;
};

TEST(FirstRunWizard, OpensOnTheFirstShowAndItsCancelEndsTheRunUnsaved) {
  for (const int result : {1, 2}) {
    TempDir home;
    FakePrompter prompter;
    protocols::NullEventPump pump;
    app::TKVmain kv(app::Ports{{}, pump, protocols::DefaultClock(), prompter}, home.Path());
    int shown = 0;
    kv.setSettingsWizard(std::make_unique<AnsweringWizard>(result, shown));
    kv.FormCreate();
    ASSERT_EQ(kv.State.StartPhase, app::kStartFirstRun);
    kv.FormShow();
    EXPECT_EQ(shown, 1);
    if (result == 2) {
      EXPECT_EQ(kv.State.StartPhase, app::kStartClosing);
      EXPECT_FALSE(kv.IniVal1.Automatic);
    } else {
      EXPECT_EQ(kv.State.StartPhase, app::kStartFirstRun) << "the welcome box is still to come";
      EXPECT_TRUE(kv.IniVal1.Automatic);
      EXPECT_TRUE(kv.ETimer2.Enabled());
    }
  }
}

}  // namespace
}  // namespace kelvrin::test
