#pragma once

// The Prompter of the desktop program: every box as our own dialog. The
// core decides what a box holds and how it is laid out; this class chooses
// the owner window, places the box, plays its sound and runs it.

#include <QPointer>
#include <QWidget>
#include <functional>

#include "ui/prompter.h"

namespace kelvrin::gui {

class ProgressBoxWindow;

class QtPrompter : public ui::Prompter {
 public:
  // parentWindow is the main window: the owner of a box when no window of
  // the program is active, and the window MainFormCenter centres on.
  explicit QtPrompter(QWidget* parentWindow = nullptr);
  ~QtPrompter() override;

  void setParentWindow(QWidget* parentWindow) { parentWindow_ = parentWindow; }

  // Where the boxes' sounds go (the program's sound player). Without one,
  // the beeps are the desktop's beep and named sounds are not played.
  using SoundHandler = std::function<void(const ui::BoxSound&)>;
  void setSoundHandler(SoundHandler handler) { soundHandler_ = std::move(handler); }

  // The open progress box's window, for the program's own use (and tests).
  ProgressBoxWindow* progressWindow() const { return progress_; }

 protected:
  std::optional<ActiveWindow> activeWindow() const override;
  int showMessageBox(const ui::MessageBoxSpec& spec) override;
  std::string showInputDialog(const ui::InputDialogSpec& spec) override;
  void showProgressBox(const ui::ProgressBoxSpec& spec) override;
  void updateProgressBox(int position) override;
  void hideProgressBox() override;
  void playSound(const ui::BoxSound& sound) override;

 private:
  // The window a box belongs to: none in stay-on-top mode (the box then
  // stays above every window), else the active window, else the main window.
  QWidget* owner() const;
  // The window a box is centred on, whether or not it owns the box.
  QWidget* referenceWindow() const;
  void place(QWidget* box, ui::BoxPosition position) const;
  void bringToFront() const;

  QPointer<QWidget> parentWindow_;
  QPointer<ProgressBoxWindow> progress_;
  SoundHandler soundHandler_;
};

}  // namespace kelvrin::gui
