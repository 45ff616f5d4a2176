// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>

// Ctrl-C, SIGTERM and SIGHUP as a request to stop after the work in hand, for the commands
// that run for a while (a sweep, a characterization): the program ends itself, keeping
// every row written.
namespace kt::cli {

/// @brief While it lives, the stop signals set a request (see StopSignal) instead of ending
/// the program.
class StopOnSignals {
 public:
  StopOnSignals();
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;
};

/// The signal that asked to stop, or 0.
int StopSignal();

/// Waits for the duration, or less when a stop is asked for meanwhile (seen within 10 ms).
/// Returns whether the whole wait passed.
bool WaitUnlessStopped(std::chrono::nanoseconds duration);

}  // namespace kt::cli
