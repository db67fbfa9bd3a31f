#pragma once

// Runs a core timer (a TimerModel the handlers switch) on a QTimer: it
// starts, stops and restarts its count as the model says and calls the
// handler at every interval.

#include <QObject>
#include <QTimer>
#include <functional>

#include "notify/timer_model.h"

namespace kelvrin::gui {

class TimerDriver : public QObject {
 public:
  TimerDriver(notify::TimerModel& model, std::function<void()> handler, QObject* parent = nullptr);
  ~TimerDriver() override;

  bool running() const { return timer_.isActive(); }
  int interval() const { return timer_.interval(); }

 private:
  void follow();

  notify::TimerModel& model_;
  std::function<void()> handler_;
  QTimer timer_;
  unsigned restarts_ = 0;
  std::size_t subscription_ = 0;
};

}  // namespace kelvrin::gui
