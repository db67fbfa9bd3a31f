#pragma once

// The Prompter port: the system's own message boxes, input box and progress
// box. The public operations hold every rule (flag decoding, captions,
// positions, the one-progress-box limit, the failure results) and hand a
// finished spec to a small set of rendering hooks, which is all a front end
// (Qt, the console, a test double) implements.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ui/message_box.h"

namespace kelvrin::ui {

class Prompter {
 public:
  virtual ~Prompter() = default;

  // The standard box; returns the pressed button's result, 0 when the flags
  // name no button set or the box could not be shown. MsgBox always brings
  // its owner to the foreground and centres on it; MsgBoxAt uses Position and
  // comes to the foreground only when the flags ask for it.
  int MsgBox(std::string_view text, std::string_view caption, bool silent, unsigned flags);
  int MsgBoxAt(std::string_view text, std::string_view caption, bool silent, unsigned flags,
               BoxPosition position);
  // A silent information box with OK and the active window's caption; true
  // when a button was pressed.
  bool InfoBox(std::string_view text);
  // A box with the caller's buttons ("|"-separated); returns 11, 12 ... for
  // the first, second ... button, 0 when nothing was shown.
  int ButtonBox(const ButtonBoxArgs& args);

  // One-line input: `value` receives the text after OK, kInputCancelled
  // after Cancel and kInputFailed when the dialog could not be shown.
  void InputBox(std::string_view prompt, std::string_view caption, std::string_view defaultValue,
                std::string& value);
  void InputDialog(const InputDialogArgs& args, std::string& value);

  // The non-modal progress box. At most one is open: a second open is
  // refused (false). Its Cancel button does not close it; it calls onCancel,
  // and the receiver closes the box.
  bool ProgressBoxOpen(const ProgressBoxArgs& args, std::function<void()> onCancel = {});
  // Advances the gauge by n (kept within Min ... Max); false when no box with
  // a gauge is open.
  bool ProgressBoxStep(int n);
  // False when no box is open.
  bool ProgressBoxClose();
  bool ProgressBoxIsOpen() const { return progressOpen_; }
  int ProgressBoxPosition() const { return progressPosition_; }

  void PlayBoxSound(std::string_view name);

  // When on, every box is created without an owner and stays above all
  // windows. The main window switches it on once at start-up.
  void setStayOnTopMode(bool on) { stayOnTopMode_ = on; }
  bool stayOnTopMode() const { return stayOnTopMode_; }

 protected:
  struct ActiveWindow {
    std::string caption;
    bool stayOnTop = false;
  };

  // The program's active window, if any: its caption is the default caption,
  // and without one every box is centred on the desktop.
  virtual std::optional<ActiveWindow> activeWindow() const { return std::nullopt; }

  // Rendering hooks. showMessageBox shows the box modally and returns the
  // pressed button's result; showInputDialog returns encodeInputValue(...)
  // after OK or kInputCancelled. A hook that throws counts as a box that
  // could not be built.
  virtual int showMessageBox(const MessageBoxSpec& spec) = 0;
  virtual std::string showInputDialog(const InputDialogSpec& spec) = 0;
  virtual void showProgressBox(const ProgressBoxSpec& spec) = 0;
  virtual void updateProgressBox(int position) = 0;
  virtual void hideProgressBox() = 0;
  virtual void playSound(const BoxSound& sound) = 0;

  // Front ends call this when the progress box's Cancel button is pressed.
  void progressBoxCancelPressed();

 private:
  int show(MessageBoxSpec spec);
  void inputDialog(InputDialogSpec spec, std::string& value);

  bool stayOnTopMode_ = false;
  bool progressOpen_ = false;
  bool progressGauge_ = false;
  int progressMin_ = 0;
  int progressMax_ = 0;
  int progressPosition_ = 0;
  std::function<void()> onProgressCancel_;
};

}  // namespace kelvrin::ui
