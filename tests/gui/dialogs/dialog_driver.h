#pragma once

// Drives a modal dialog from inside its exec(): once the dialog is the
// active modal widget, `act` runs on it (clicks, keys, checks). A dialog
// that is still open after `act` is a fault: it is closed so that the test
// fails on its result instead of hanging, and leftOpen() says so.

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

namespace kelvrin::test {

class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(QDialog*)> act) : act_(std::move(act)) {
    timer_ = std::make_unique<QTimer>();
    timer_->setInterval(5);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { poll(); });
    timer_->start();
  }
  ~ModalDriver() { timer_->stop(); }
  ModalDriver(const ModalDriver&) = delete;
  ModalDriver& operator=(const ModalDriver&) = delete;

  bool shown() const { return shown_; }
  bool leftOpen() const { return leftOpen_; }
  QString title() const { return title_; }

 private:
  void poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    timer_->stop();
    shown_ = true;
    title_ = dialog->windowTitle();
    act_(dialog);
    if (dialog->isVisible()) {
      leftOpen_ = true;
      dialog->QDialog::done(-1);
    }
  }

  std::function<void(QDialog*)> act_;
  std::unique_ptr<QTimer> timer_;
  bool shown_ = false;
  bool leftOpen_ = false;
  QString title_;
};

}  // namespace kelvrin::test
