// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>

namespace kt::sim {

/// @brief One SPI frame as the board's firmware rebuilds it from vendor request 0xDD.
struct Frame {
  std::int32_t Bits;  ///< frame length: index >> 8
  std::int32_t Word;  ///< (low byte of index) << 16 | value
};

/// Rebuilds the frame from the request's value and index, or nothing when the value does not
/// fit its 16 bits.
std::optional<Frame> DecodeRequest(std::int32_t value, std::int32_t index);

/// @brief The DAC on the board: a 16-bit frame drives a 14-bit DAC (power-down bits 15..14),
/// a 24-bit frame a 16-bit DAC (bits 17..16). Other frame lengths drive no DAC.
class DacModel {
 public:
  /// Applies the frame; returns whether it drove the DAC.
  bool Apply(const Frame& frame);

  [[nodiscard]] std::optional<std::int32_t> Code() const { return code_; }
  [[nodiscard]] std::optional<std::int32_t> PowerDown() const { return powerDown_; }

 private:
  std::optional<std::int32_t> code_;
  std::optional<std::int32_t> powerDown_;
};

}  // namespace kt::sim
