#include "gui/window/timer_driver.h"

namespace kelvrin::gui {

TimerDriver::TimerDriver(notify::TimerModel& model, std::function<void()> handler, QObject* parent)
    : QObject(parent), model_(model), handler_(std::move(handler)) {
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (handler_) handler_();
  });
  subscription_ = model_.changed().add([this] { follow(); });
  restarts_ = model_.restarts();
  if (model_.Enabled()) timer_.start(model_.Interval());
}

TimerDriver::~TimerDriver() {
  model_.changed().remove(subscription_);
}

void TimerDriver::follow() {
  if (!model_.Enabled()) {
    timer_.stop();
    restarts_ = model_.restarts();
    return;
  }
  if (!timer_.isActive() || restarts_ != model_.restarts() ||
      timer_.interval() != model_.Interval()) {
    restarts_ = model_.restarts();
    timer_.start(model_.Interval());
  }
}

}  // namespace kelvrin::gui
