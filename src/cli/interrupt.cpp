#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <exception>

#include "mail/temp_file.h"

namespace kelvrin::cli {

namespace {

volatile std::sig_atomic_t gPending = 0;
volatile std::sig_atomic_t gSeen = 0;
volatile std::sig_atomic_t gPresses = 0;

// The signals that end the program by default and can be caught. SIGPIPE
// is among them: `kelvrin-cli check | head` ends us that way.
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

std::terminate_handler gPreviousTerminate = nullptr;

// Removes the temporary files and ends the program by the signal's own
// default action, so that the caller sees how it ended.
[[noreturn]] void endBySignal(int signal) {
  mail::RemoveLiveTempFiles();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signal);
  _exit(128 + signal);  // only if the default action did not end us
}

extern "C" void onInterrupt(int signal) {
  if (gPresses != 0) endBySignal(signal);
  gPresses = 1;
  gPending = 1;
  gSeen = 1;
}

extern "C" void onEndingSignal(int signal) {
  endBySignal(signal);
}

void setHandler(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

void removeFilesAndTerminate() {
  mail::RemoveLiveTempFiles();
  if (gPreviousTerminate != nullptr) gPreviousTerminate();
  std::abort();
}

}  // namespace

void InterruptPump::ProcessEvents() {
  if (gPending == 0) return;
  gPending = 0;
  if (onInterrupt_) onInterrupt_();
}

void InterruptPump::install() {
  gPresses = 0;
  setHandler(SIGINT, onInterrupt);
  for (const int signal : kEndingSignals)
    setHandler(signal, onEndingSignal);
  std::terminate_handler previous = std::set_terminate(removeFilesAndTerminate);
  if (previous != removeFilesAndTerminate) gPreviousTerminate = previous;
}

void InterruptPump::uninstall() {
  setHandler(SIGINT, SIG_DFL);
  for (const int signal : kEndingSignals)
    setHandler(signal, SIG_DFL);
  if (gPreviousTerminate != nullptr) std::set_terminate(gPreviousTerminate);
}

bool InterruptPump::interrupted() {
  return gSeen != 0;
}

void InterruptPump::reset() {
  gPending = 0;
  gSeen = 0;
  gPresses = 0;
}

void InterruptPump::raiseFlag() {
  gPending = 1;
  gSeen = 1;
}

}  // namespace kelvrin::cli
