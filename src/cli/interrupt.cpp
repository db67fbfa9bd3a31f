#include "cli/interrupt.h"

#include <csignal>

namespace kelvrin::cli {

namespace {

volatile std::sig_atomic_t gPending = 0;
volatile std::sig_atomic_t gSeen = 0;

extern "C" void onInterrupt(int) {
  gPending = 1;
  gSeen = 1;
}

}  // namespace

void InterruptPump::ProcessEvents() {
  if (gPending == 0) return;
  gPending = 0;
  if (onInterrupt_) onInterrupt_();
}

void InterruptPump::install() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // One-shot: a second Ctrl-C ends the program.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void InterruptPump::uninstall() {
  std::signal(SIGINT, SIG_DFL);
}

bool InterruptPump::interrupted() {
  return gSeen != 0;
}

void InterruptPump::reset() {
  gPending = 0;
  gSeen = 0;
}

void InterruptPump::raiseFlag() {
  gPending = 1;
  gSeen = 1;
}

}  // namespace kelvrin::cli
