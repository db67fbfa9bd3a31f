#pragma once

// The windows of the system's own boxes: the message box, the input dialog
// and the progress box. Each is built from the core's spec and placed by the
// core's layout rules; the widgets only measure themselves and report which
// button was pressed.

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "ui/message_box.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kelvrin::gui {

// The picture of a box: the standard icon, or the caller's picture (a file
// or resource path; a name that loads nothing shows no picture).
QPixmap boxPixmap(ui::BoxIcon icon, const std::string& picture);

// Window flags of a box: a title bar without close, minimise or maximise
// buttons, so that only the box's buttons close it.
Qt::WindowFlags boxWindowFlags(bool stayOnTop);

class MessageBoxDialog : public QDialog {
  Q_OBJECT

 public:
  MessageBoxDialog(const ui::MessageBoxSpec& spec, QWidget* parent);

  // The pressed button's result; 0 until a button is pressed.
  int boxResult() const { return result_; }
  const std::vector<QPushButton*>& buttons() const { return buttons_; }
  QLabel* textLabel() const { return text_; }
  QLabel* imageLabel() const { return image_; }

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void press(std::size_t index);

  ui::MessageBoxSpec spec_;
  std::vector<QPushButton*> buttons_;
  QLabel* text_ = nullptr;
  QLabel* image_ = nullptr;
  int result_ = ui::kIdNone;
};

class InputBoxDialog : public QDialog {
  Q_OBJECT

 public:
  InputBoxDialog(const ui::InputDialogSpec& spec, QWidget* parent);

  // The answer after OK (the core's encoding), kInputCancelled otherwise.
  std::string answer() const;
  const std::vector<QLineEdit*>& edits() const { return edits_; }
  const std::vector<QCheckBox*>& checkBoxes() const { return checks_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  std::vector<QLineEdit*> edits_;
  std::vector<QCheckBox*> checks_;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Non-modal. Its Cancel button does not close it: it emits cancelPressed,
// and whoever opened the box closes it.
class ProgressBoxWindow : public QDialog {
  Q_OBJECT

 public:
  ProgressBoxWindow(const ui::ProgressBoxSpec& spec, QWidget* parent);

  void setPosition(int position);
  QProgressBar* gauge() const { return gauge_; }
  QPushButton* cancelButton() const { return cancel_; }

 signals:
  void cancelPressed();

 protected:
  // Esc and the window's close act as the Cancel button, or do nothing
  // without one.
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QProgressBar* gauge_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace kelvrin::gui
