#include "platform/qt_event_pump.h"

#include <QCoreApplication>

namespace kelvrin::platform {

void QtEventPump::ProcessEvents() {
  if (QCoreApplication::instance() == nullptr) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace kelvrin::platform
