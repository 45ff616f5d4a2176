// SPDX-License-Identifier: MIT
#include "wave/player.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "platform/clock.h"

namespace kt::wave {

namespace {

using std::chrono::nanoseconds;

// A wait longer than this is made in pieces, so that a stop asked for meanwhile is seen at
// once on a system whose signals do not cut a wait short.
constexpr nanoseconds kWatch = std::chrono::milliseconds(10);

std::size_t BucketOf(std::uint64_t ns) {
  if (ns < 128) return static_cast<std::size_t>(ns);
  const int octave = std::bit_width(ns) - 1;  // 7 and up
  const int shift = octave - 6;
  return 128 + static_cast<std::size_t>(octave - 7) * 64 +
         static_cast<std::size_t>((ns >> shift) - 64);
}

// The middle of a bucket, in nanoseconds.
std::uint64_t MiddleOf(std::size_t bucket) {
  if (bucket < 128) return bucket;
  const std::size_t octave = (bucket - 128) / 64 + 7;
  const std::size_t shift = octave - 6;
  const std::uint64_t low = static_cast<std::uint64_t>((bucket - 128) % 64 + 64) << shift;
  return low + ((std::uint64_t{1} << shift) >> 1);
}

}  // namespace

void Lateness::Add(nanoseconds late) {
  late = std::max(late, nanoseconds::zero());
  ++buckets_[BucketOf(static_cast<std::uint64_t>(late.count()))];
  max_ = std::max(max_, late);
  ++count_;
}

nanoseconds Lateness::Quantile(double fraction) const {
  if (count_ == 0) return nanoseconds::zero();
  // The rank of the sample asked for, from 1.
  const auto rank = std::max<std::uint64_t>(
      1, static_cast<std::uint64_t>(std::ceil(fraction * static_cast<double>(count_))));
  std::uint64_t seen = 0;
  for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
    seen += buckets_[bucket];
    if (seen >= rank)
      return std::min(nanoseconds(static_cast<std::int64_t>(MiddleOf(bucket))), max_);
  }
  return max_;
}

std::optional<double> Played::AchievedRate() const {
  if (Sent < 2 || Last <= First) return std::nullopt;
  return static_cast<double>(Sent - 1) * 1e9 / static_cast<double>((Last - First).count());
}

nanoseconds DeadlineOf(std::uint64_t k, double rate) {
  return nanoseconds(std::llround(static_cast<long double>(k) * 1e9L / rate));
}

Played Play(const Source& source, const Pace& pace, const Road& road) {
  using platform::Monotonic;
  platform::Sleeper sleeper;
  Played played;
  const nanoseconds period = DeadlineOf(1, pace.Rate);
  const Monotonic::time_point start = Monotonic::now();
  for (std::uint64_t k = 0; !pace.Samples || k < *pace.Samples; ++k) {
    const nanoseconds deadline = DeadlineOf(k, pace.Rate);
    const Monotonic::time_point due = start + deadline;
    for (;;) {
      if (road.Stopped()) {
        played.How = Played::End::Stopped;
        return played;
      }
      const Monotonic::time_point now = Monotonic::now();
      if (now >= due) break;
      sleeper.Until(due - now > kWatch ? now + kWatch : due);
    }
    Sample sample{k, source.At(k, pace.Rate), deadline, Monotonic::now() - start};
    if (!road.Send(sample)) {
      played.How = Played::End::Refused;
      return played;
    }
    const nanoseconds late = sample.Sent - deadline;
    played.Delays.Add(late);
    if (played.Sent++ == 0) played.First = sample.Sent;
    played.Last = sample.Sent;
    played.LastCode = sample.Code;
    if (late > period) {
      ++played.Late;
      if (pace.Strict) {
        played.How = Played::End::Late;
        return played;
      }
    }
  }
  return played;
}

}  // namespace kt::wave
