// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace kt {

/// @brief One SPI frame as the program computes it before anything is sent: its length in
/// bits and its word, of which the board receives the low 24 bits.
struct Frame {
  std::int16_t Bits = 0;
  std::int32_t Word = 0;

  friend bool operator==(const Frame&, const Frame&) = default;
};

}  // namespace kt
