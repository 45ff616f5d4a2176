// SPDX-License-Identifier: MIT
#include "platform/clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/prctl.h>

#include <ctime>
#endif

namespace kt::platform {

#ifdef _WIN32

namespace {
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x00000002;
#endif
// timeBeginPeriod and timeEndPeriod, looked up so that winmm is not a link dependency; the
// library stays loaded for the process.
using TimePeriod = UINT(WINAPI*)(UINT);
TimePeriod WinmmEntry(const char* name) {
  static const HMODULE winmm = LoadLibraryW(L"winmm.dll");
  return winmm ? reinterpret_cast<TimePeriod>(reinterpret_cast<void*>(GetProcAddress(winmm, name)))
               : nullptr;
}
}  // namespace

Sleeper::Sleeper() {
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                  TIMER_ALL_ACCESS);
  highResolution_ = timer_ != nullptr;
  if (!timer_) {
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    if (const TimePeriod begin = WinmmEntry("timeBeginPeriod")) begin(1);
  }
}

Sleeper::~Sleeper() {
  if (!highResolution_)
    if (const TimePeriod end = WinmmEntry("timeEndPeriod")) end(1);
  if (timer_) CloseHandle(timer_);
}

bool Sleeper::Until(Monotonic::time_point moment) {
  const auto left = moment - Monotonic::now();
  if (left <= Monotonic::duration::zero()) return true;
  // A relative due time, in 100 ns units, negative.
  LARGE_INTEGER due;
  due.QuadPart =
      -std::chrono::duration_cast<std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>>(left)
           .count();
  if (due.QuadPart == 0) due.QuadPart = -1;
  if (!timer_ || !SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
    Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  } else {
    WaitForSingleObject(timer_, INFINITE);
  }
  return Monotonic::now() >= moment;
}

const char* Sleeper::How() const {
  return highResolution_ ? "a high-resolution waitable timer"
         : timer_        ? "a waitable timer at 1 ms resolution"
                         : "Sleep at 1 ms resolution";
}

#else

// The thread's timer slack, 50 us by default, is the time the kernel may add to a wait to
// wake it with others: taken down to 1 ns while this lives.
Sleeper::Sleeper() : slack_(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) {
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}
Sleeper::~Sleeper() {
  if (slack_ > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack_), 0, 0, 0);
}

bool Sleeper::Until(Monotonic::time_point moment) {
  // steady_clock is CLOCK_MONOTONIC here.
  const auto since = moment.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  timespec at{};
  at.tv_sec = static_cast<time_t>(seconds.count());
  at.tv_nsec = static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
  if (at.tv_sec < 0) return true;
  // Not restarted after a signal's handler, whatever SA_RESTART says: the caller looks at
  // what the signal asked.
  return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == 0;
}

const char* Sleeper::How() const {
  return "clock_nanosleep (CLOCK_MONOTONIC, TIMER_ABSTIME), timer slack 1 ns";
}

#endif

}  // namespace kt::platform
