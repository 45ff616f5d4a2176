// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace kt::link {

/// The one vendor request the program sends: one SPI frame.
inline constexpr std::uint8_t kSpiFrameRequest = 0xDD;

/// @brief An SPI frame packed into the fields of vendor request 0xDD.
struct FrameRequest {
  std::int32_t value;  ///< bits 15..0 of the frame word
  std::int32_t index;  ///< frame length × 256 + bits 23..16 of the frame word

  friend bool operator==(const FrameRequest&, const FrameRequest&) = default;
};

/// Packs a frame length and word; bits 31..24 of the word are not sent. Cannot fail: the
/// index of every 16-bit length lies within -8,388,608..8,388,607.
constexpr FrameRequest PackFrame(std::int16_t frameBits, std::int32_t word) {
  const auto bits = static_cast<std::uint32_t>(word);
  return FrameRequest{
      .value = static_cast<std::int32_t>(bits & 0xFFFFu),
      .index = frameBits * 256 + static_cast<std::int32_t>((bits & 0xFF0000u) >> 16),
  };
}

}  // namespace kt::link
