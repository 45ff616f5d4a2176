// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wave/buffer.h"
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

/// How many pushes a stream keeps queued in the board ahead of its clock.
inline constexpr std::uint64_t kPushesAhead = 3;

/// How many samples a push holds at `rate`: a twentieth of a second's worth, from 1 to 65,536,
/// so that a stop is heard within a few pushes and a push never waits long for room.
std::size_t PushLength(double rate);

/// The samples of one whole cycle at `rate`, when a whole number of samples, from 1 to `most`,
/// make one (a file's samples always do); none otherwise.
std::optional<std::vector<std::int32_t>> OneCycle(const Source& source, double rate,
                                                  std::size_t most);

/// Pushes the samples of `source` at `rate`, in order, `length` at a time (the last push may
/// be shorter), until `samples` are pushed (none: until stopped), a stop is asked for, or
/// the board refuses a push. Once kPushesAhead pushes are in, each waits for its time, so
/// that the board holds no more than that ahead of its clock.
Queued Stream(const Source& source, double rate, std::optional<std::uint64_t> samples,
              std::size_t length, const Queue& queue);

/// Opens a board's buffer at `rate` for pushes of `length` samples, repeating its one push or
/// not; none, with why, when it cannot.
using OpenBuffer = std::function<std::unique_ptr<Buffer>(double rate, std::size_t length,
                                                         bool cyclic, std::string& why)>;

/// @brief A play through a board's buffer, as it went.
struct BufferPlay {
  Played::End How = Played::End::Done;
  double Rate = 0;        ///< samples a second, as the board's clock keeps them
  bool Cyclic = false;    ///< one cycle, repeated by the board until stopped
  std::uint64_t Out = 0;  ///< samples out; after a stop, as near as the clock tells (all
                          ///< pushed, where the board sends them all)
  std::int32_t Last = 0;  ///< the code of the last sample out (the first when none was)
  std::string Failure;    ///< why the board refused samples
};

/// The longest cycle a buffer that repeats it is asked to hold: 8 MiB of 16-bit samples.
inline constexpr std::size_t kMostCyclic = std::size_t{1} << 22;

/// Plays `source` at `pace` through a buffer `open` gives: a play until stopped whose cycle
/// is a whole number of samples, kMostCyclic at most, from a buffer that repeats it where
/// the board has one, else every sample streamed in order. `note` is told, before the samples
/// go, of a rate the board's clock gives other than the one asked. None, with `why`, when no
/// buffer opens; otherwise the buffer is closed on return, and the DAC holds until the program
/// writes a code.
std::optional<BufferPlay> PlayThrough(const OpenBuffer& open, const Source& source,
                                      const Pace& pace, const std::function<bool()>& stopped,
                                      const std::function<void(const std::string&)>& note,
                                      std::string& why);

}  // namespace kt::wave
