#pragma once

// Termination signals as Qt events: the handler only writes the signal's
// number into a pipe, and a socket notifier on the pipe's other end tells
// the program in its event loop, where the exit sequence may run.

#include <QObject>
#include <QSocketNotifier>
#include <initializer_list>
#include <memory>

namespace kelvrin::gui {

class SignalBridge : public QObject {
  Q_OBJECT
 public:
  // Catches the signals (SIGTERM, SIGINT, SIGHUP) for this process; one
  // bridge per process.
  explicit SignalBridge(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
  ~SignalBridge() override;

 signals:
  void received(int signalNumber);

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kelvrin::gui
