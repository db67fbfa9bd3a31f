#include "gui/program/signal_bridge.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kelvrin::gui {

namespace {

int pipeFds[2] = {-1, -1};

void onSignal(int signalNumber) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signalNumber);
  // Nothing else is safe here; a full pipe drops the repeat of a signal
  // that is already on its way.
  [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
  errno = saved;
}

}  // namespace

SignalBridge::SignalBridge(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent) {
  if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
      emit received(byte);
  });
  for (int s : signalNumbers) {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(s, &action, nullptr);
  }
}

SignalBridge::~SignalBridge() {
  // Back to the default: a signal after the bridge is gone ends the process.
  for (int s : {SIGTERM, SIGINT, SIGHUP})
    ::signal(s, SIG_DFL);
}

}  // namespace kelvrin::gui
