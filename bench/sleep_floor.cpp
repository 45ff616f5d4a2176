// SPDX-License-Identifier: MIT
// The floor under `ktdac play`'s timing: a bare loop that waits for each deadline, start +
// k / rate, with clock_nanosleep (TIMER_ABSTIME, timer slack 1 ns) and does nothing else.
// Prints the lateness quantiles and the late count as ktdac play does.
// usage: kt_sleep_floor RATE SAMPLES
#include <sys/prctl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const double rate = std::atof(argv[1]);
  const long samples = std::atol(argv[2]);
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  std::vector<long long> late(static_cast<std::size_t>(samples));
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const long long origin = start.tv_sec * 1000000000LL + start.tv_nsec;
  long count = 0;
  for (long k = 0; k < samples; ++k) {
    const long long due =
        origin + static_cast<long long>(static_cast<long double>(k) * 1e9L / rate);
    const timespec at{static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    late[static_cast<std::size_t>(k)] = now.tv_sec * 1000000000LL + now.tv_nsec - due;
    if (late[static_cast<std::size_t>(k)] > 1e9 / rate) ++count;
  }
  std::sort(late.begin(), late.end());
  const auto at = [&](double fraction) {
    return static_cast<double>(
               late[std::min(late.size() - 1, static_cast<std::size_t>(
                                                  fraction * static_cast<double>(late.size())))]) /
           1e6;
  };
  std::printf("bare %ld samples, %ld late; lateness p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
              samples, count, at(0.5), at(0.99), static_cast<double>(late.back()) / 1e6);
  return 0;
}
