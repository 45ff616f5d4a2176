// SPDX-License-Identifier: MIT
// What the start-up probes report: the moment they reach, on CLOCK_MONOTONIC in
// nanoseconds, one line on standard output, which the start-up benchmark reads.
#pragma once

#include <cstdio>
#include <ctime>

namespace kt::bench {

inline void ReportMoment() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
  std::fflush(stdout);
}

}  // namespace kt::bench
