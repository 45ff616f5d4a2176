// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wave/player.h"
#include "wave/samples.h"

// The instrument's function generator as SCPI sets it: one for the instrument, whichever
// client sets it.
namespace kt::remote {

/// @brief The waveform the next OUTPut ON plays.
struct WaveSetup {
  std::string Function = "SIN";         ///< SIN, SQU, TRI, RAMP or USER
  double Frequency = 1;                 ///< Hz
  double Rate = 1000;                   ///< samples a second
  std::optional<double> Amplitude;      ///< volts peak to peak; none: full scale
  std::optional<double> Offset;         ///< volts; none: mid-scale
  std::optional<std::uint64_t> Cycles;  ///< none: until stopped
  std::vector<std::int32_t> User;       ///< USER's samples, codes
  bool Swapped = false;  ///< FORMat:BORDer SWAPped: a block's codes least significant byte first
};

/// @brief What plays a waveform on the board beside the serving of clients.
class Generator {
 public:
  virtual ~Generator() = default;
  WaveSetup Setup;
  /// Plays `source` at `pace` on the board, a play in progress stopped first.
  virtual void Start(const wave::Source& source, const wave::Pace& pace) = 0;
  /// Stops a play at a sample boundary; returns once no more samples go out.
  virtual void Stop() = 0;
  [[nodiscard]] virtual bool Playing() const = 0;
  /// Whether a play of a set length is in progress, which *OPC? waits for.
  [[nodiscard]] virtual bool Finishing() const = 0;
  /// Calls `then` once no play is in progress: at once when none is, else when it ends,
  /// either way on the thread that serves the clients.
  virtual void WhenIdle(std::function<void()> then) = 0;
};

}  // namespace kt::remote
