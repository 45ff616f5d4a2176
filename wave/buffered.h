// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "wave/player.h"
#include "wave/samples.h"

// Playing a waveform through a board's own output buffer, whose clock keeps the time: the
// program computes the samples and keeps the buffer filled.
namespace kt::wave {

/// @brief What the board's buffer is asked.
struct Queue {
  /// Queues samples, waiting while the buffer is full; false when the board refused them,
  /// which ends the run.
  std::function<bool(const std::vector<std::int32_t>&)> Push;
  /// Whether a stop was asked for: looked at before each push.
  std::function<bool()> Stopped;
};

/// @brief How a run through a buffer went.
struct Queued {
  Played::End How = Played::End::Done;
  std::uint64_t Pushed = 0;              ///< samples the board took
  std::optional<std::int32_t> LastCode;  ///< of the last of them
};

/// How many samples a push holds at `rate`: a twentieth of a second's worth, from 1 to 65,536,
/// so that a stop is heard within a few pushes and a push never waits long for room.
std::size_t PushLength(double rate);

/// The samples of one whole cycle at `rate`, when a whole number of samples, from 1 to `most`,
/// make one (a file's samples always do); none otherwise.
std::optional<std::vector<std::int32_t>> OneCycle(const Source& source, double rate,
                                                  std::size_t most);

/// Pushes the samples of `source` at `rate`, in order, `length` at a time (the last push may
/// be shorter), until `samples` are pushed (none: until stopped), a stop is asked for, or
/// the board refuses a push.
Queued Stream(const Source& source, double rate, std::optional<std::uint64_t> samples,
              std::size_t length, const Queue& queue);

}  // namespace kt::wave
