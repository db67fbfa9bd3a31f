#pragma once

// A Prompter test double: records every box the logic shows and answers
// from a script.
//
//   FakePrompter prompter;
//   prompter.Press("&No");              // the next box: press its "&No" button
//   prompter.Answer(kelvrin::ui::kIdYes);  // the box after that: result 6
//   prompter.AnswerInput("hello");      // the next input dialog: OK with "hello"
//   prompter.CancelProgressAtStep(2);   // press Cancel on the 2nd gauge step
//   ... run the logic ...
//   ASSERT_EQ(prompter.Calls().size(), 2u);
//   EXPECT_EQ(prompter.Calls()[0].Text, "Not recommended. Are you sure");
//
// Without a scripted answer a box gets DefaultAnswer when one is set, else
// its default button (what Enter would press); an input dialog is confirmed
// with its defaults unless CancelInputByDefault is set. A scripted answer
// that is not a button of the box fails the running test.
//
// Header-only: it needs kelvrin_ui, which the support library does not link.

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/prompter.h"

namespace kelvrin::test {

class FakePrompter : public ui::Prompter {
 public:
  enum class Kind { MessageBox, InputDialog, ProgressOpen, ProgressStep, ProgressClose, Sound };

  struct Call {
    Kind CallKind = Kind::MessageBox;
    ui::BoxOrigin Origin = ui::BoxOrigin::MsgBox;  // message boxes only
    std::string Text;                              // message text, first prompt, or progress text
    std::string Caption;                           // as resolved (caller's or the active window's)
    unsigned Flags = 0;                            // standard boxes
    std::vector<std::string> Buttons;              // button captions in order
    int Result = 0;                                // the answer given to a message box
    std::string Value;                             // the answer given to an input dialog
    int Position = 0;  // progress steps: the gauge position after the step
    ui::MessageBoxSpec Box;
    ui::InputDialogSpec Input;
    ui::ProgressBoxSpec Progress;
    ui::BoxSound Sound;
  };

  // Scripted answers, consumed in order by the message boxes.
  void Answer(int result) { boxAnswers_.push_back(Scripted{result, {}}); }
  void Press(std::string caption) { boxAnswers_.push_back(Scripted{0, std::move(caption)}); }
  // Scripted answers of input dialogs: OK with this text (LF-separated for
  // several fields), or Cancel.
  void AnswerInput(std::string value) { inputAnswers_.push_back(std::move(value)); }
  void CancelInput() { inputAnswers_.push_back(ui::kInputCancelled); }
  // Makes the next input dialog fail (the code-1 answer).
  void FailInput() { inputAnswers_.push_back(ui::kInputFailed); }

  std::optional<int> DefaultAnswer;
  bool CancelInputByDefault = false;
  // The active window whose caption a box without caption takes; none means
  // no window of the program is active.
  std::optional<std::string> ActiveWindowCaption = std::string("Kelvrin");

  // Presses the progress box's Cancel during its n-th step (1-based, counted
  // from the open), after the gauge moved.
  void CancelProgressAtStep(int n) { cancelAtStep_ = n; }
  // Presses the progress box's Cancel now.
  void PressProgressCancel() { progressBoxCancelPressed(); }

  const std::vector<Call>& Calls() const { return calls_; }
  // The message boxes only, in order.
  const std::vector<Call>& Boxes() const { return boxes_; }
  // Every scripted answer was used.
  bool ScriptConsumed() const { return boxAnswers_.empty() && inputAnswers_.empty(); }
  void Clear() {
    calls_.clear();
    boxes_.clear();
  }

 protected:
  std::optional<ActiveWindow> activeWindow() const override {
    if (!ActiveWindowCaption) return std::nullopt;
    return ActiveWindow{*ActiveWindowCaption, false};
  }

  int showMessageBox(const ui::MessageBoxSpec& spec) override {
    Call call;
    call.CallKind = Kind::MessageBox;
    call.Origin = spec.origin;
    call.Text = spec.text;
    call.Caption = spec.caption;
    call.Flags = spec.flags;
    for (const ui::BoxButton& b : spec.buttons)
      call.Buttons.push_back(b.caption);
    call.Box = spec;
    call.Result = answerFor(spec);
    calls_.push_back(call);
    boxes_.push_back(call);
    return call.Result;
  }

  std::string showInputDialog(const ui::InputDialogSpec& spec) override {
    Call call;
    call.CallKind = Kind::InputDialog;
    call.Text = spec.fields.empty() ? std::string() : spec.fields.front().prompt;
    call.Caption = spec.caption;
    call.Input = spec;
    if (!inputAnswers_.empty()) {
      call.Value = inputAnswers_.front();
      inputAnswers_.pop_front();
    } else if (CancelInputByDefault) {
      call.Value = ui::kInputCancelled;
    } else {
      std::vector<std::string> texts;
      for (const ui::InputField& f : spec.fields)
        texts.push_back(f.value);
      std::vector<bool> checks;
      for (const ui::InputCheckBox& c : spec.checkBoxes)
        checks.push_back(c.checked);
      call.Value = ui::encodeInputValue(texts, checks);
    }
    calls_.push_back(call);
    if (call.Value == ui::kInputFailed) throw std::runtime_error("input dialog failed");
    return call.Value;
  }

  void showProgressBox(const ui::ProgressBoxSpec& spec) override {
    Call call;
    call.CallKind = Kind::ProgressOpen;
    call.Text = spec.text;
    call.Caption = spec.caption;
    call.Progress = spec;
    call.Position = spec.min;
    calls_.push_back(call);
    steps_ = 0;
  }

  void updateProgressBox(int position) override {
    Call call;
    call.CallKind = Kind::ProgressStep;
    call.Position = position;
    calls_.push_back(call);
    if (++steps_ == cancelAtStep_) progressBoxCancelPressed();
  }

  void hideProgressBox() override {
    Call call;
    call.CallKind = Kind::ProgressClose;
    calls_.push_back(call);
  }

  void playSound(const ui::BoxSound& sound) override {
    Call call;
    call.CallKind = Kind::Sound;
    call.Sound = sound;
    calls_.push_back(call);
  }

 private:
  struct Scripted {
    int Result;
    std::string Caption;
  };

  int answerFor(const ui::MessageBoxSpec& spec) {
    if (boxAnswers_.empty()) {
      if (DefaultAnswer) return *DefaultAnswer;
      return spec.buttons.at(spec.defaultButton).result;
    }
    const Scripted next = boxAnswers_.front();
    boxAnswers_.pop_front();
    for (const ui::BoxButton& b : spec.buttons) {
      if (next.Caption.empty() ? b.result == next.Result : b.caption == next.Caption) {
        return b.result;
      }
    }
    ADD_FAILURE() << "FakePrompter: the box \"" << spec.text << "\" has no button "
                  << (next.Caption.empty() ? std::to_string(next.Result) : next.Caption);
    return ui::kIdNone;
  }

  std::vector<Call> calls_;
  std::vector<Call> boxes_;
  std::deque<Scripted> boxAnswers_;
  std::deque<std::string> inputAnswers_;
  int cancelAtStep_ = 0;
  int steps_ = 0;
};

}  // namespace kelvrin::test
