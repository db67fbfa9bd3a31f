#include "ui/console_prompter.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kelvrin::ui {
namespace {

struct AnswerCase {
  const char* label;
  unsigned flags;
  int safe;
  int assumingYes;
};

class ConsolePrompterAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ConsolePrompterAnswers, TakeTheSafeAnswerUnlessYesIsAssumed) {
  std::ostringstream out;
  ConsolePrompter safe(out);
  ConsolePrompter yes(out, true);
  EXPECT_EQ(safe.MsgBox("Question?", "Kelvrin", false, GetParam().flags), GetParam().safe);
  EXPECT_EQ(yes.MsgBox("Question?", "Kelvrin", false, GetParam().flags), GetParam().assumingYes);
}

INSTANTIATE_TEST_SUITE_P(ButtonSets, ConsolePrompterAnswers,
                         ::testing::Values(AnswerCase{"Ok", 64, kIdOk, kIdOk},
                                           AnswerCase{"OkCancel", 1, kIdCancel, kIdOk},
                                           AnswerCase{"AbortRetryIgnore", 2, kIdAbort, kIdIgnore},
                                           AnswerCase{"YesNoCancel", 3, kIdCancel, kIdYes},
                                           AnswerCase{"YesNo", 4 + 16, kIdNo, kIdYes},
                                           AnswerCase{"YesNoFocusOnYesStillNo", 4, kIdNo, kIdYes},
                                           AnswerCase{"RetryCancel", 5, kIdCancel, kIdRetry}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ConsolePrompter, PrintsCaptionAndTextWithLineBreaksAndTheAnswer) {
  std::ostringstream out;
  ConsolePrompter prompter(out);
  prompter.MsgBox("Not recommended.\rAre you sure", "Kelvrin", false, 4 + 16);
  EXPECT_EQ(out.str(), "Kelvrin: Not recommended.\n  Are you sure\n  -> No\n");
}

TEST(ConsolePrompter, CustomButtonsTakeTheBoxDefault) {
  std::ostringstream out;
  ConsolePrompter prompter(out, true);
  ButtonBoxArgs args;
  args.buttons = "&OK|&Spam|&Reply";
  EXPECT_EQ(prompter.ButtonBox(args), 11);
  args.defaultButton = 3;
  EXPECT_EQ(prompter.ButtonBox(args), 13);
}

TEST(ConsolePrompter, InputIsCancelledUnlessYesIsAssumed) {
  std::ostringstream out;
  std::string value;
  ConsolePrompter safe(out);
  safe.InputBox("Flash Message", "Kelvrin", "hi", value);
  EXPECT_EQ(value, kInputCancelled);
  ConsolePrompter yes(out, true);
  yes.InputBox("Flash Message", "Kelvrin", "hi", value);
  EXPECT_EQ(value, "hi");
}

TEST(ConsolePrompter, TheProgressBoxPrintsItsStepsAndNeverCancels) {
  std::ostringstream out;
  ConsolePrompter prompter(out);
  bool cancelled = false;
  ProgressBoxArgs args;
  args.text = "Non-spam messages!\r[Cancel] aborts delete";
  args.caption = "Kelvrin";
  args.cancelButton = true;
  args.gauge = true;
  args.max = 4;
  ASSERT_TRUE(prompter.ProgressBoxOpen(args, [&] { cancelled = true; }));
  for (int i = 0; i < 4; ++i)
    prompter.ProgressBoxStep(1);
  prompter.ProgressBoxClose();
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(out.str(),
            "Kelvrin: Non-spam messages!\n  [Cancel] aborts delete\n  1 of 4\n  2 of 4\n"
            "  3 of 4\n  4 of 4\n");
}

TEST(PlainCaption, DropsAcceleratorMarks) {
  EXPECT_EQ(plainCaption("&Yes"), "Yes");
  EXPECT_EQ(plainCaption("Reply&Quote"), "ReplyQuote");
  EXPECT_EQ(plainCaption("Warn Delete && NoSpam"), "Warn Delete & NoSpam");
}

}  // namespace
}  // namespace kelvrin::ui
