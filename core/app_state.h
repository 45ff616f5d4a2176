// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>

#ifndef KT_GENERATION
#error "KT_GENERATION must be 1 or 2: link against kt_core_g1 or kt_core_g2"
#endif

namespace kt {

/// Bytes in the path buffer handed to the board library: 512 path bytes and a terminator.
inline constexpr std::size_t kPathBufferSize = 513;

using PathBufferBytes = std::array<std::uint8_t, kPathBufferSize>;

/// @brief The program-wide state record, one instance for the whole run; every field starts
/// at zero (empty texts, zero bytes) and is written directly by the part that owns it.
struct AppState {
  std::string EntryFormat;         ///< "Hex" or "Dec": how the entry box is read
  std::int16_t FrameBits = 0;      ///< bits in one SPI frame
  std::int16_t DataBits = 0;       ///< DAC resolution; the power-down code sits just above
  std::int32_t PowerDownCode = 0;  ///< 0..3
  std::int32_t DacWord = 0;        ///< the data value during an update, then the frame word
#if KT_GENERATION == 2
  std::uint32_t BoardHandle = 0;  ///< opaque handle written by the library's Open_Link
#endif
  std::int16_t LinkStatus = 0;   ///< status of the last library operation recorded
  std::string FirmwarePath;      ///< program folder + separator + "SPI.hex" (UTF-8)
  PathBufferBytes PathBuffer{};  ///< 8-bit copy of a path and its terminating 0
};

}  // namespace kt
