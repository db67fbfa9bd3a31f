#include "ui/prompter.h"

#include <gtest/gtest.h>

#include "support/fake_prompter.h"

namespace kelvrin::ui {
namespace {

using test::FakePrompter;

TEST(PrompterMsgBox, ReturnsThePressedButtonOfAQuestion) {
  FakePrompter prompter;
  prompter.Press("&Yes");
  EXPECT_EQ(prompter.MsgBox("You want Kelvrin to start with Windows?", "Kelvrin", false, 36),
            kIdYes);
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  const auto& box = prompter.Boxes()[0];
  EXPECT_EQ(box.Buttons, (std::vector<std::string>{"&Yes", "&No"}));
  EXPECT_EQ(box.Box.icon, BoxIcon::Question);
  EXPECT_EQ(box.Flags, 36u);
  EXPECT_TRUE(box.Box.foreground) << "MsgBox always brings its owner forward";
}

TEST(PrompterMsgBox, ABadButtonValueShowsNothingAndReturnsZero) {
  FakePrompter prompter;
  EXPECT_EQ(prompter.MsgBox("text", "Kelvrin", false, 64 + 9), kIdNone);
  EXPECT_TRUE(prompter.Calls().empty());
}

TEST(PrompterMsgBox, WithoutAPressTheDefaultButtonAnswers) {
  FakePrompter prompter;
  EXPECT_EQ(prompter.MsgBox("Delete?", "Kelvrin", true, 0x100 + 4), kIdNo);
}

TEST(PrompterMsgBoxAt, KeepsThePositionAndComesForwardOnlyWhenAsked) {
  FakePrompter prompter;
  prompter.MsgBoxAt("Welcome", "Welcome to Kelvrin", false, 64, BoxPosition::ScreenCenter);
  prompter.MsgBoxAt("Welcome", "Welcome to Kelvrin", false, 0x10000 + 64,
                    BoxPosition::ScreenCenter);
  ASSERT_EQ(prompter.Boxes().size(), 2u);
  EXPECT_EQ(prompter.Boxes()[0].Box.position, BoxPosition::ScreenCenter);
  EXPECT_FALSE(prompter.Boxes()[0].Box.foreground);
  EXPECT_TRUE(prompter.Boxes()[1].Box.foreground);
}

TEST(PrompterInfoBox, IsSilentAndTakesTheActiveWindowsCaption) {
  FakePrompter prompter;
  prompter.ActiveWindowCaption = "Kelvrinate V3400";
  EXPECT_TRUE(prompter.InfoBox("No update available"));
  const auto& box = prompter.Boxes().at(0);
  EXPECT_EQ(box.Caption, "Kelvrinate V3400");
  EXPECT_EQ(box.Box.sound.kind, BeepKind::None);
  EXPECT_EQ(box.Box.icon, BoxIcon::Information);
  EXPECT_EQ(box.Origin, BoxOrigin::InfoBox);
}

TEST(PrompterPosition, WithoutAnActiveProgramWindowEveryBoxIsCentredOnTheDesktop) {
  FakePrompter prompter;
  prompter.ActiveWindowCaption.reset();
  prompter.MsgBox("text", "", false, 0);
  const auto& box = prompter.Boxes().at(0);
  EXPECT_EQ(box.Box.position, BoxPosition::DesktopCenter);
  EXPECT_EQ(box.Caption, "");
}

TEST(PrompterStayOnTopMode, MakesEveryBoxStayOnTop) {
  FakePrompter prompter;
  prompter.MsgBox("a", "", false, 0);
  prompter.setStayOnTopMode(true);
  prompter.MsgBox("b", "", false, 0);
  EXPECT_FALSE(prompter.Boxes()[0].Box.stayOnTop);
  EXPECT_TRUE(prompter.Boxes()[1].Box.stayOnTop);
}

TEST(PrompterButtonBox, ReturnsElevenTwelveAndSoOn) {
  FakePrompter prompter;
  prompter.Press("&Reply");
  ButtonBoxArgs args;
  args.text = "Hello Sam";
  args.caption = "Message from \"Alex\" <alex@example.com>";
  args.buttons = "&OK|&Spam|&Reply|Reply&Quote";
  EXPECT_EQ(prompter.ButtonBox(args), 13);
  EXPECT_EQ(prompter.Boxes().at(0).Box.rows, (std::vector<std::size_t>{2, 2}));
}

TEST(PrompterButtonBox, AnEmptyListShowsNothing) {
  FakePrompter prompter;
  ButtonBoxArgs args;
  EXPECT_EQ(prompter.ButtonBox(args), kIdNone);
  EXPECT_TRUE(prompter.Calls().empty());
}

// A front end that cannot build its boxes.
class BrokenPrompter : public Prompter {
 protected:
  int showMessageBox(const MessageBoxSpec&) override { throw std::runtime_error("no display"); }
  std::string showInputDialog(const InputDialogSpec&) override {
    throw std::runtime_error("no display");
  }
  void showProgressBox(const ProgressBoxSpec&) override { throw std::runtime_error("no display"); }
  void updateProgressBox(int) override {}
  void hideProgressBox() override {}
  void playSound(const BoxSound&) override {}
};

TEST(PrompterFailure, ABoxThatCannotBeShownGivesZeroAndTheInputFailureCode) {
  BrokenPrompter prompter;
  EXPECT_EQ(prompter.MsgBox("text", "Kelvrin", false, 4), kIdNone);
  EXPECT_FALSE(prompter.InfoBox("text"));
  std::string value = "unchanged";
  prompter.InputBox("Prompt", "Caption", "", value);
  EXPECT_EQ(value, kInputFailed);
  EXPECT_FALSE(prompter.ProgressBoxOpen(ProgressBoxArgs{}));
  EXPECT_FALSE(prompter.ProgressBoxIsOpen());
}

TEST(PrompterInputBox, OkGivesTheTextAndCancelTheCodeZeroCharacter) {
  FakePrompter prompter;
  prompter.AnswerInput("See you at noon");
  prompter.CancelInput();
  std::string value;
  prompter.InputBox("Flash Message type here (up to 160 characters)", "Kelvrin Flash Message",
                    "last flash", value);
  EXPECT_EQ(value, "See you at noon");
  prompter.InputBox("Kelvrin Flash Reply", "Message type here (up to 160 characters)", "", value);
  EXPECT_EQ(value, kInputCancelled);

  const auto& first = prompter.Calls().at(0);
  ASSERT_EQ(first.Input.fields.size(), 1u);
  EXPECT_EQ(first.Input.fields[0].value, "last flash");
  EXPECT_EQ(first.Input.icon, BoxIcon::Question);
  EXPECT_EQ(first.Input.maxLength, 255u);
  EXPECT_EQ(first.Input.editWidth, 170);
  EXPECT_TRUE(prompter.ScriptConsumed());
}

TEST(PrompterInputBox, APromptWithABarStaysOnePrompt) {
  FakePrompter prompter;
  std::string value;
  prompter.InputBox("Either|or", "", "dflt", value);
  EXPECT_EQ(prompter.Calls().at(0).Input.fields.size(), 1u);
  EXPECT_EQ(value, "dflt");
}

TEST(PrompterInputDialog, ConfirmedDefaultsAreEncodedWithTheCheckBoxes) {
  FakePrompter prompter;
  InputDialogArgs args;
  args.prompts = "User|Password";
  args.defaults = "sam|";
  args.checkBoxes = "Remember|\x01Secure";
  std::string value;
  prompter.InputDialog(args, value);
  EXPECT_EQ(value, "sam\n\r01");
}

TEST(PrompterProgressBox, ASecondOpenIsRefusedWhileOneIsOpen) {
  FakePrompter prompter;
  ProgressBoxArgs args;
  args.text = "Non-spam messages!\r[Cancel] aborts delete";
  args.caption = "Kelvrin";
  args.cancelButton = true;
  args.gauge = true;
  args.max = 4;
  EXPECT_TRUE(prompter.ProgressBoxOpen(args));
  EXPECT_FALSE(prompter.ProgressBoxOpen(args));
  EXPECT_TRUE(prompter.ProgressBoxClose());
  EXPECT_FALSE(prompter.ProgressBoxClose());
  EXPECT_TRUE(prompter.ProgressBoxOpen(args)) << "a closed box can be opened again";
}

TEST(PrompterProgressBox, StepsStayWithinMinAndMaxAndNeedAGauge) {
  FakePrompter prompter;
  EXPECT_FALSE(prompter.ProgressBoxStep(1)) << "no box open";
  ProgressBoxArgs args;
  args.gauge = true;
  args.min = 2;
  args.max = 5;
  prompter.ProgressBoxOpen(args);
  EXPECT_EQ(prompter.ProgressBoxPosition(), 2);
  EXPECT_TRUE(prompter.ProgressBoxStep(2));
  EXPECT_EQ(prompter.ProgressBoxPosition(), 4);
  prompter.ProgressBoxStep(10);
  EXPECT_EQ(prompter.ProgressBoxPosition(), 5);
  prompter.ProgressBoxStep(-20);
  EXPECT_EQ(prompter.ProgressBoxPosition(), 2);
  prompter.ProgressBoxClose();

  args.gauge = false;
  prompter.ProgressBoxOpen(args);
  EXPECT_FALSE(prompter.ProgressBoxStep(1));
}

TEST(PrompterProgressBox, CancelReachesTheCallerWhoClosesTheBox) {
  FakePrompter prompter;
  int countdownCancelled = 0;
  ProgressBoxArgs args;
  args.cancelButton = true;
  args.gauge = true;
  args.max = 4;
  prompter.CancelProgressAtStep(2);
  prompter.ProgressBoxOpen(args, [&] {
    countdownCancelled = 10;
    prompter.ProgressBoxClose();
  });
  int stepped = 0;
  for (int i = 0; i < 4; ++i)
    stepped += prompter.ProgressBoxStep(1) ? 1 : 0;
  EXPECT_EQ(countdownCancelled, 10);
  EXPECT_EQ(stepped, 2) << "after the cancel closed the box, steps do nothing";
  EXPECT_FALSE(prompter.ProgressBoxIsOpen());
  EXPECT_FALSE(prompter.ProgressBoxClose());
}

TEST(PrompterProgressBox, CancelWithoutAReceiverDoesNothing) {
  FakePrompter prompter;
  prompter.ProgressBoxOpen(ProgressBoxArgs{});
  prompter.PressProgressCancel();
  EXPECT_TRUE(prompter.ProgressBoxIsOpen());
}

TEST(PrompterPlayBoxSound, PlaysOnlyANonEmptyName) {
  FakePrompter prompter;
  prompter.PlayBoxSound("");
  prompter.PlayBoxSound("MB_ICONERROR");
  ASSERT_EQ(prompter.Calls().size(), 1u);
  EXPECT_EQ(prompter.Calls()[0].Sound.kind, BeepKind::Stop);
}

}  // namespace
}  // namespace kelvrin::ui
