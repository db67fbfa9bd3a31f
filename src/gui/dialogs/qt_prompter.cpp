#include "gui/dialogs/qt_prompter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include "gui/dialogs/box_dialogs.h"
#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

namespace {

QRect screenArea(const QWidget* near) {
  QScreen* screen = near ? near->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

void centreOn(QWidget* box, const QRect& area) {
  if (area.isEmpty()) return;
  const QSize size = box->frameGeometry().size().expandedTo(box->size());
  QPoint topLeft(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2);
  box->move(topLeft);
}

bool usable(const QWidget* w) {
  return w && w->isVisible() && !w->isMinimized();
}

}  // namespace

QtPrompter::QtPrompter(QWidget* parentWindow) : parentWindow_(parentWindow) {}

QtPrompter::~QtPrompter() {
  if (progress_) delete progress_.data();
}

std::optional<ui::Prompter::ActiveWindow> QtPrompter::activeWindow() const {
  const QWidget* active = QApplication::activeWindow();
  if (!active) return std::nullopt;
  return ActiveWindow{coreText(active->windowTitle()),
                      active->windowFlags().testFlag(Qt::WindowStaysOnTopHint)};
}

QWidget* QtPrompter::referenceWindow() const {
  if (QWidget* active = QApplication::activeWindow()) return active;
  return parentWindow_.data();
}

QWidget* QtPrompter::owner() const {
  if (stayOnTopMode()) return nullptr;
  return referenceWindow();
}

void QtPrompter::place(QWidget* box, ui::BoxPosition position) const {
  switch (position) {
    case ui::BoxPosition::OwnerFormCenter: {
      QWidget* ref = referenceWindow();
      centreOn(box, usable(ref) ? ref->frameGeometry() : screenArea(ref));
      break;
    }
    case ui::BoxPosition::MainFormCenter: {
      QWidget* main = parentWindow_.data();
      centreOn(box, usable(main) ? main->frameGeometry() : screenArea(main));
      break;
    }
    case ui::BoxPosition::ScreenCenter:
    case ui::BoxPosition::DesktopCenter:
      centreOn(box, screenArea(referenceWindow()));
      break;
    case ui::BoxPosition::Designed:
    case ui::BoxPosition::Default:
      break;  // where the window manager puts it
  }
}

void QtPrompter::bringToFront() const {
  QWidget* ref = referenceWindow();
  if (!ref || !ref->isVisible()) return;  // a window in the tray stays there
  if (ref->isMinimized()) ref->showNormal();
  ref->raise();
  ref->activateWindow();
}

int QtPrompter::showMessageBox(const ui::MessageBoxSpec& spec) {
  if (spec.foreground) bringToFront();
  MessageBoxDialog box(spec, owner());
  place(&box, spec.position);
  playSound(spec.sound);
  box.exec();
  return box.boxResult();
}

std::string QtPrompter::showInputDialog(const ui::InputDialogSpec& spec) {
  InputBoxDialog box(spec, owner());
  place(&box, spec.position);
  playSound(spec.sound);
  box.exec();
  return box.answer();
}

void QtPrompter::showProgressBox(const ui::ProgressBoxSpec& spec) {
  auto* box = new ProgressBoxWindow(spec, owner());
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  // The receiver of Cancel usually closes the box from inside this signal,
  // so the window goes with deleteLater, never at once.
  QObject::connect(box, &ProgressBoxWindow::cancelPressed, box,
                   [this] { progressBoxCancelPressed(); });
  place(box, spec.position);
  playSound(spec.sound);
  box->show();
  progress_ = box;
}

void QtPrompter::updateProgressBox(int position) {
  if (progress_) progress_->setPosition(position);
}

void QtPrompter::hideProgressBox() {
  if (!progress_) return;
  ProgressBoxWindow* box = progress_.data();
  progress_.clear();
  box->hide();
  box->deleteLater();
}

void QtPrompter::playSound(const ui::BoxSound& sound) {
  if (sound.kind == ui::BeepKind::None) return;
  if (soundHandler_) {
    soundHandler_(sound);
    return;
  }
  if (sound.kind != ui::BeepKind::PlayName) QApplication::beep();
}

}  // namespace kelvrin::gui
