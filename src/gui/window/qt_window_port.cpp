#include "gui/window/qt_window_port.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QTabWidget>

#include "gui/dialogs/help_window.h"
#include "gui/dialogs/qt_text.h"
#include "gui/window/body_window.h"

namespace kelvrin::gui {

void QtWindowPort::ShowWindowFromTray() {
  if (window_) window_->showFromTray();
}

void QtWindowPort::ShowServerTab() {
  if (window_) window_->tabs()->setCurrentIndex(0);
}

void QtWindowPort::ShowHelp(const std::string& topic) {
  HelpWindow::showTopic(qtText(topic).toLower(), window_);
}

void QtWindowPort::MinimizeApplication() {
  if (window_) window_->minimizeApplication();
}

void QtWindowPort::CloseMainWindow() {
  if (window_) window_->requestClose();
}

void QtWindowPort::Repaint() {
  if (window_ && window_->isVisible()) window_->repaint();
}

void QtWindowPort::PopupTrayMenu() {
  if (window_ == nullptr || window_->trayMenu() == nullptr) return;
  window_->trayMenu()->popup(QCursor::pos() - QPoint(50, 50));
}

void QtWindowPort::PostClickAtClientOrigin() {
  if (window_ == nullptr) return;
  QWidget* target = window_->centralWidget() ? window_->centralWidget() : window_.data();
  const QPointF local(0, 0);
  const QPointF global = target->mapToGlobal(local);
  QCoreApplication::postEvent(
      target, new QMouseEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(
      target, new QMouseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                              Qt::NoButton, Qt::NoModifier));
}

int QtWindowPort::ShowBody(const std::string& caption, const std::string& text) {
  return BodyWindow::run(qtText(caption), qtText(text), window_);
}

}  // namespace kelvrin::gui
