// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace kt {

/// @brief The program-wide state of the evaluation flow, one instance for the whole run;
/// every field starts at zero (an empty text) and is written directly by the part that owns
/// it. What belongs to the board (its handle, the path buffer, the firmware path and the
/// last library status) lives in the board object, link::Board.
struct AppState {
  std::string EntryFormat;         ///< "Hex" or "Dec": how the entry box is read
  std::int16_t FrameBits = 0;      ///< bits in one SPI frame
  std::int16_t DataBits = 0;       ///< DAC resolution; the power-down code sits just above
  std::int32_t PowerDownCode = 0;  ///< 0..3
  std::int32_t DacWord = 0;        ///< the data value during an update, then the frame word
};

}  // namespace kt
