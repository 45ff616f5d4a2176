// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kt::wave {

/// @brief A board's own output buffer: the samples queued in it go out at the board's clock
/// (a driver's trigger, a bridge's clock), not at the program's. Closing it stops the output;
/// the DAC then holds a code the program writes afterwards.
class Buffer {
 public:
  Buffer() = default;
  virtual ~Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  /// The rate the board's clock keeps, samples a second, as the driver gave it back.
  [[nodiscard]] virtual double Rate() const = 0;
  /// Whether the samples of the one push repeat by themselves until the buffer is closed.
  [[nodiscard]] virtual bool Cyclic() const = 0;
  /// How many samples a push takes at most.
  [[nodiscard]] virtual std::size_t Length() const = 0;
  /// Queues codes, waiting while the buffer is full; false when the board refused them, and
  /// Failure says why.
  virtual bool Push(const std::vector<std::int32_t>& codes) = 0;
  /// Waits until every sample pushed has gone out, or until `stopped` answers true.
  virtual void Drain(const std::function<bool()>& stopped) = 0;
  /// Whether every sample pushed still goes out after a stop, as the board cannot take back
  /// what it was given; otherwise closing the buffer ends the output at once.
  [[nodiscard]] virtual bool Finishes() const { return false; }
  [[nodiscard]] virtual std::string Failure() const = 0;
};

}  // namespace kt::wave
