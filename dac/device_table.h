// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

#include "core/app_state.h"

namespace kt::dac {

/// @brief One DAC model: its label, its SPI frame length and its data width.
struct DeviceProfile {
  const char* Label;
  std::int16_t FrameBits;
  std::int16_t DataBits;
};

/// The five models in the order of the device window's option buttons.
inline constexpr std::array<DeviceProfile, 5> DeviceTable{{
    {"KT300", 16, 14},
    {"KT310", 24, 16},
    {"KT311", 24, 16},
    {"KT312", 24, 16},
    {"KT313", 24, 16},
}};

/// What choosing a model does: set FrameBits and DataBits as a pair, nothing else.
inline void SelectDevice(AppState& app, const DeviceProfile& device) {
  app.FrameBits = device.FrameBits;
  app.DataBits = device.DataBits;
}

}  // namespace kt::dac
