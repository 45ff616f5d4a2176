// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "wave/samples.h"

// Playing a waveform at a set sample rate: each sample at its own deadline, start + k / rate,
// on the monotonic clock, and how late each went out.
namespace kt::wave {

/// @brief How late samples went out: counted in buckets 1/64 of an octave wide (exact below
/// 128 ns), so that a run of any length keeps 30 KB. The largest is kept exactly.
class Lateness {
 public:
  void Add(std::chrono::nanoseconds late);
  /// The lateness that `fraction` (0..1) of the samples did not exceed, to within 1/64.
  [[nodiscard]] std::chrono::nanoseconds Quantile(double fraction) const;
  [[nodiscard]] std::chrono::nanoseconds Max() const { return max_; }
  [[nodiscard]] std::uint64_t Count() const { return count_; }

  static constexpr std::size_t kBuckets = 128 + 57 * 64;

 private:
  std::array<std::uint64_t, kBuckets> buckets_{};
  std::chrono::nanoseconds max_{0};
  std::uint64_t count_ = 0;
};

/// @brief A sample as it went out: its index, its code, and when it was due and sent, both
/// from the start of the run.
struct Sample {
  std::uint64_t Index;
  std::int32_t Code;
  std::chrono::nanoseconds Deadline, Sent;
};

/// @brief How to play: the rate, how many samples (none: until stopped), and whether the
/// first late sample ends the run.
struct Pace {
  double Rate = 1000;
  std::optional<std::uint64_t> Samples;
  bool Strict = false;
};

/// @brief What the board is asked of each sample, and what may end a run.
struct Road {
  /// Sends a sample; false when the board refused it, which ends the run.
  std::function<bool(const Sample&)> Send;
  /// Whether a stop was asked for: looked at before each sample and while waiting.
  std::function<bool()> Stopped;
};

/// @brief How a run went.
struct Played {
  enum class End { Done, Stopped, Refused, Late };
  End How = End::Done;
  std::uint64_t Sent = 0;  ///< samples the board took
  std::uint64_t Late = 0;  ///< of them, sent more than one period after their deadline
  Lateness Delays;
  std::chrono::nanoseconds First{0}, Last{0};  ///< when the first and last were sent
  std::optional<std::int32_t> LastCode;        ///< the code the output holds now

  /// Samples a second between the first sample sent and the last; none below two.
  [[nodiscard]] std::optional<double> AchievedRate() const;
};

/// The deadline of sample k at `rate`, from the start: k / rate, to the nanosecond, computed
/// from k alone.
std::chrono::nanoseconds DeadlineOf(std::uint64_t k, double rate);

/// Plays `source` at `pace` over `road`: waits until each sample's deadline, then sends it,
/// every sample in order, none skipped however late. Ends when the samples asked for are
/// sent, when a stop is asked for (at a sample boundary), when the board refuses a sample
/// or, when strict, at the first late sample (it is sent and counted).
Played Play(const Source& source, const Pace& pace, const Road& road);

}  // namespace kt::wave
