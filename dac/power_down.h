// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

namespace kt::dac {

/// @brief One power-down mode: the caption of its option button and its code, the two bits
/// that sit just above the data bits of the frame word.
struct PowerDownMode {
  const char* Caption;
  std::int32_t Code;
};

/// The modes in the order of their option buttons (Option1..Option4). The codes do not follow
/// that order: "100 kOhm to GND" is 2 and "Tri - State" is 1.
inline constexpr std::array<PowerDownMode, 4> kPowerDownModes{{
    {"Normal", 0},
    {"100 kOhm to GND", 2},
    {"Tri - State", 1},
    {"1 kOhm to GND", 3},
}};

}  // namespace kt::dac
