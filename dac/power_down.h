// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kt::dac {

/// @brief One power-down mode: its code (the two bits just above the data bits of the
/// frame word) and its names, in the windows, in ktdac, in the Linux IIO ABI and in SCPI.
struct PowerDownMode {
  const char* Caption;  ///< the option button's caption
  std::int32_t Code;
  const char* Name;     ///< ktdac's option value
  const char* IioName;  ///< the Linux IIO ABI's name, also taken by ktdac; empty for Normal
  const char* Scpi;     ///< the SCPI mnemonic: upper case the short form, the whole the long
};

/// The modes in the order of their option buttons (Option1..Option4). The codes do not
/// follow that order: "100 kOhm to GND" is 2 and "Tri - State" is 1.
inline constexpr std::array<PowerDownMode, 4> kPowerDownModes{{
    {"Normal", 0, "normal", "", "NORMal"},
    {"100 kOhm to GND", 2, "100k", "100kohm_to_gnd", "R100k"},
    {"Tri - State", 1, "tri-state", "three_state", "TSTate"},
    {"1 kOhm to GND", 3, "1k", "1kohm_to_gnd", "R1K"},
}};

/// The mode of a code 0..3, or nullptr.
const PowerDownMode* PowerDownByCode(std::int32_t code);

/// The mode that ktdac's name or the IIO name (any case) stands for, or nullptr.
const PowerDownMode* PowerDownByName(std::string_view name);

}  // namespace kt::dac
