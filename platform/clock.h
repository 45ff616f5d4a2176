// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>

// Waiting for a moment on the monotonic clock as closely as the system allows, for work that
// must happen at set times (a waveform's samples).
namespace kt::platform {

using Monotonic = std::chrono::steady_clock;

/// @brief What waits until a moment: on Linux clock_nanosleep on CLOCK_MONOTONIC with an
/// absolute time (no drift from a wake-up's lateness, none lost to a signal), the thread's
/// timer slack at 1 ns while this lives; on Windows a
/// high-resolution waitable timer where the system has one (Windows 10 1803 and later), else
/// a waitable timer under a 1 ms timer resolution asked for while this lives.
class Sleeper {
 public:
  Sleeper();
  ~Sleeper();
  Sleeper(const Sleeper&) = delete;
  Sleeper& operator=(const Sleeper&) = delete;

  /// Waits until `moment` or until a signal's handler has run, whichever comes first; at once
  /// when it has passed. Returns whether `moment` was reached (false: woken early).
  bool Until(Monotonic::time_point moment);

  /// How the waits are made, for a line of the report: "clock_nanosleep (TIMER_ABSTIME)",
  /// "a high-resolution waitable timer", ...
  [[nodiscard]] const char* How() const;

 private:
#ifdef _WIN32
  void* timer_ = nullptr;
  bool highResolution_ = false;
#else
  int slack_;  // the thread's timer slack before, ns
#endif
};

}  // namespace kt::platform
