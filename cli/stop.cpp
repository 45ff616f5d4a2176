// SPDX-License-Identifier: MIT
#include "cli/stop.h"

#include <csignal>
#include <thread>

namespace kt::cli {

namespace {

volatile std::sig_atomic_t requested = 0;
extern "C" void OnStopSignal(int signal) { requested = signal; }

// From the terminal, from kill or a service manager, and from a closed terminal.
constexpr int kStopSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};
constexpr auto kSignals = sizeof kStopSignals / sizeof kStopSignals[0];

void (*previous[kSignals])(int);

}  // namespace

StopOnSignals::StopOnSignals() {
  requested = 0;
  for (std::size_t i = 0; i < kSignals; ++i)
    previous[i] = std::signal(kStopSignals[i], OnStopSignal);
}

StopOnSignals::~StopOnSignals() {
  for (std::size_t i = 0; i < kSignals; ++i) std::signal(kStopSignals[i], previous[i]);
}

int StopSignal() { return requested; }

bool WaitUnlessStopped(std::chrono::nanoseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (!requested) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(10)));
  }
  return false;
}

}  // namespace kt::cli
