// SPDX-License-Identifier: MIT
#include "console/stop.h"

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

// Where there is sigaction (not on Windows), it sets the handlers; std::signal elsewhere.
#ifdef SA_RESTART
struct sigaction previous[kSignals];
#else
void (*previous[kSignals])(int);
#endif
int depth = 0;  // a sweep inside a script asks again: the outermost request holds

}  // namespace

StopOnSignals::StopOnSignals() {
  if (depth++ > 0) return;
  requested = 0;
  for (std::size_t i = 0; i < kSignals; ++i) {
#ifdef SA_RESTART
    // Without SA_RESTART: a write blocked on a full pipe returns, so that the stop is not
    // held back until the reader drains it.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(kStopSignals[i], &action, &previous[i]);
#else
    previous[i] = std::signal(kStopSignals[i], OnStopSignal);
#endif
  }
}

StopOnSignals::~StopOnSignals() {
  if (--depth > 0) return;
  for (std::size_t i = 0; i < kSignals; ++i) {
#ifdef SA_RESTART
    sigaction(kStopSignals[i], &previous[i], nullptr);
#else
    std::signal(kStopSignals[i], previous[i]);
#endif
  }
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
