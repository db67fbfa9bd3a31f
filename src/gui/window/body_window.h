#pragma once

// The body of one waiting message in a window of its own: the decoded text
// and the four buttons OK, Spam, Reply and Reply Quote. It runs modally,
// since the session that fetched the message stays open until it closes.

#include <QDialog>
#include <QString>
#include <vector>

class QPlainTextEdit;
class QPushButton;

namespace kelvrin::gui {

class BodyWindow : public QDialog {
  Q_OBJECT
 public:
  BodyWindow(const QString& caption, const QString& text, QWidget* parent = nullptr);

  // Runs the window; returns 11 for the first button, 12 for the second ...
  // Closing the window counts as OK.
  static int run(const QString& caption, const QString& text, QWidget* parent);

  // The pressed button's result (11 ...); OK until a button is pressed.
  int pressed() const { return pressed_; }
  const std::vector<QPushButton*>& buttons() const { return buttons_; }
  QPlainTextEdit* textView() const { return text_; }

 protected:
  void reject() override;

 private:
  QPlainTextEdit* text_ = nullptr;
  std::vector<QPushButton*> buttons_;
  int pressed_;
};

// CR LF, a bare CR and LF all end a line.
QString withLineFeeds(QString text);

}  // namespace kelvrin::gui
