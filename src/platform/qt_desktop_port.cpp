#include "platform/qt_desktop_port.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QEvent>
#include <QGuiApplication>

namespace kelvrin::platform {

bool QtDesktopPort::ShiftHeld() {
  return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

bool QtDesktopPort::CtrlHeld() {
  return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

void QtDesktopPort::ScreenSaverOff() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  // Fire and forget: a missing service must not hold up the idle action.
  bus.asyncCall(QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
      QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("SimulateUserActivity")));
}

InputWatch::InputWatch(std::function<void()> seen, QObject* parent)
    : QObject(parent), seen_(std::move(seen)) {
  QCoreApplication::instance()->installEventFilter(this);
}

InputWatch::~InputWatch() {
  if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

bool InputWatch::isInput(int eventType) {
  switch (static_cast<QEvent::Type>(eventType)) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
      return true;
    default:
      return false;
  }
}

bool InputWatch::eventFilter(QObject* watched, QEvent* event) {
  // Input reaches a window first and then, unhandled, its parents; only the
  // window (the first receiver) is counted, so one event is one report.
  if (isInput(event->type()) && watched->isWindowType() && seen_) seen_();
  return QObject::eventFilter(watched, event);
}

}  // namespace kelvrin::platform
