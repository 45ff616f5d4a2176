// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

namespace kt::dac {

/// @brief A raw SPI frame as typed into the SPI test window.
struct RawFrame {
  std::int16_t FrameBits;
  std::int32_t Word;
};

/// Reads the two boxes of the SPI test window: the frame length is the number at the start
/// of its text, rounded half to even; the data are the hexadecimal digits at the start of
/// theirs. Empty or non-numeric texts read as 0. A length outside -32768..32767 or data of
/// more than eight hexadecimal digits raise kt::Error, before anything could be sent.
RawFrame ReadRawFrame(std::string_view bitsText, std::string_view dataText);

/// The frame data a request to the board carries: 24 bits (16 in its value, 8 in its index).
/// The SPI test window sends what it reads and the board drops the rest; ktdac and the
/// remote control refuse wider data rather than report a word the board never got.
inline constexpr std::uint32_t kLargestRequestData = 0xFFFFFF;

}  // namespace kt::dac
