#pragma once

// The tip of the day. The texts, the tips and the choice of tip are the
// core's (ui/tips.h); this dialog shows them.

#include <QDialog>

#include "ui/tips.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace kelvrin::gui {

class TipsDialog : public QDialog {
  Q_OBJECT

 public:
  TipsDialog(const ui::TipsDialogSpec& spec, ui::TipPicker pick, QWidget* parent = nullptr);

  // Shows the dialog modally; what TTips::showDialog expects.
  static ui::TipsDialogResult run(const ui::TipsDialogSpec& spec, QWidget* parent);
  // Makes tips.Execute() show this dialog over parent.
  static void install(ui::TTips& tips, QWidget* parent);

  ui::TipsDialogResult outcome() const;
  const ui::TipSequence& sequence() const { return sequence_; }
  QLabel* tipText() const { return tipText_; }
  QCheckBox* showAtStart() const { return showAtStart_; }
  QPushButton* nextButton() const { return next_; }
  QPushButton* backButton() const { return back_; }
  QPushButton* closeButton() const { return close_; }

 private:
  void showTip();

  ui::TipSequence sequence_;
  QLabel* tipText_ = nullptr;
  QCheckBox* showAtStart_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace kelvrin::gui
