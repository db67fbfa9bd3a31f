#pragma once

// The Prompter of the command-line program. Notices go to the error stream;
// a question gets the answer a run without a user should take: the safe one
// (No, Cancel, Abort), or the affirmative one when the program was told to
// assume yes. Input dialogs are cancelled unless yes is assumed, in which
// case their defaults are taken. The progress box prints its text and steps
// and is never cancelled.

#include <iosfwd>

#include "ui/prompter.h"

namespace kelvrin::ui {

class ConsolePrompter : public Prompter {
 public:
  explicit ConsolePrompter(std::ostream& out, bool assumeYes = false);
  // Writes to std::cerr.
  explicit ConsolePrompter(bool assumeYes = false);

  bool assumeYes() const { return assumeYes_; }

  // The answer this prompter gives to a box (exposed for the command line's
  // own documentation and tests).
  int answerFor(const MessageBoxSpec& spec) const;

 protected:
  int showMessageBox(const MessageBoxSpec& spec) override;
  std::string showInputDialog(const InputDialogSpec& spec) override;
  void showProgressBox(const ProgressBoxSpec& spec) override;
  void updateProgressBox(int position) override;
  void hideProgressBox() override;
  void playSound(const BoxSound& sound) override;

 private:
  std::ostream& out_;
  bool assumeYes_;
  int progressMax_ = 0;
};

// A caption without its accelerator marks ("&Yes" -> "Yes", "&&" -> "&").
std::string plainCaption(std::string_view caption);

}  // namespace kelvrin::ui
