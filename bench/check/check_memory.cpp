// Runs N checks of the same mailbox in one process, as a desktop program that
// stays up for days does, and prints the peak resident size afterwards: the
// messages of a check are released by the next one, so the peak after 200
// checks should be that of the first.
//
// Usage: kelvrin_check_memory --home DIR [--checks N]
// DIR is a settings home written by `kelvrin-cli init` (and its lists).

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "ui/console_prompter.h"

namespace {

// Real time, but the program's own pauses (100 ms before a requested check
// and after a connect) take none: they cost time, not memory.
class FastClock final : public kelvrin::protocols::Clock {
 public:
  std::int64_t TickCount() override { return real_.TickCount() + skipped_; }
  void Sleep(int milliseconds) override {
    if (milliseconds > 0) skipped_ += milliseconds;
  }

 private:
  kelvrin::protocols::SystemClock real_;
  std::int64_t skipped_ = 0;
};

long peakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  int checks = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (a == "--checks" && i + 1 < argc) {
      checks = std::atoi(argv[++i]);
    } else {
      std::cerr << "usage: kelvrin_check_memory --home DIR [--checks N]\n";
      return 2;
    }
  }
  if (home.empty() || checks < 1) {
    std::cerr << "usage: kelvrin_check_memory --home DIR [--checks N]\n";
    return 2;
  }

  FastClock clock;
  kelvrin::protocols::NullEventPump pump;
  kelvrin::ui::ConsolePrompter prompter;
  kelvrin::app::TKVmain kv(kelvrin::app::Ports{{}, pump, clock, prompter}, home);
  kv.FormCreate();
  kv.FormShow();
  kv.State.OnlineState = 1;
  // The tenth check of a run would be the version check instead.
  kv.KVmain->setChecked("AutoUpdate1", false);

  const auto start = std::chrono::steady_clock::now();
  std::size_t rows = 0;
  for (int i = 0; i < checks; ++i) {
    kv.btOpenClick();
    kv.Check().RunRequestedCheck();
    if (!kv.Check().LastOutcome().Completed) {
      std::cerr << "check " << i + 1 << " failed: " << kv.dfsStatus.Status() << "\n";
      return 1;
    }
    rows = kv.VTree1.RootNodeCount();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  kv.FormDestroy();
  std::printf("checks %d  rows %zu  seconds %.2f  per check %.3f  ru_maxrss_kb %ld\n", checks, rows,
              seconds, seconds / checks, peakKilobytes());
  return 0;
}
