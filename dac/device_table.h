// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/app_state.h"
#include "core/frame.h"

namespace kt::dac {

/// @brief One DAC model: its label, its SPI frame length and its data width.
struct DeviceProfile {
  const char* Label;
  std::int16_t FrameBits;
  std::int16_t DataBits;
};

/// The highest reference voltage the commands take: beyond it no DAC of this family works.
inline constexpr double kMaxReferenceVolts = 1000;
/// The lowest: below it no DAC works, and a code's volts would leave what a double holds.
inline constexpr double kMinReferenceVolts = 0.001;

/// Why `volts` cannot be a DAC's reference, the message naming where it came from
/// (`source`: "--vref 0", "VOLT:REF 1e-320", a driver's scale); empty when it can be:
/// finite, from kMinReferenceVolts to kMaxReferenceVolts. One rule wherever a reference
/// comes from.
std::string ReferenceRefusal(double volts, const std::string& source);

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

/// The model of that label, in any case ("kt310" is the KT310), or nullptr.
const DeviceProfile* FindDevice(std::string_view label);

/// The last code of a DAC of that resolution, 2^dataBits - 1: 0xFFFF for 16 bits, 0x3FFF
/// for 14.
constexpr std::int32_t LastCode(std::int16_t dataBits) { return (1 << dataBits) - 1; }
constexpr std::int32_t LastCode(const DeviceProfile& device) { return LastCode(device.DataBits); }

/// The frame of a code within 0..LastCode in a power-down mode, as an update composes it:
/// the device's frame length, and the mode's code just above the data bits.
Frame DeviceFrame(const DeviceProfile& device, std::int32_t powerDownCode, std::int32_t code);

/// @brief What a model's frame tells its DAC.
struct DeviceWord {
  std::int16_t DataBits;   ///< the resolution the frame's length stands for
  std::int32_t PowerDown;  ///< the power-down code, 0..3
  std::int32_t Code;       ///< 0..LastCode(DataBits)
};

/// Reads a frame as the DAC it reaches does, the reverse of DeviceFrame: a 16-bit frame
/// drives a 14-bit DAC, a 24-bit frame a 16-bit one, the power-down code just above the
/// data bits. Nothing for a frame of another length, or with bits set above the mode.
std::optional<DeviceWord> ReadDeviceFrame(const Frame& frame);

/// The ideal output of a code in normal operation: vref × code / 2^dataBits.
double IdealVolts(std::int32_t code, std::int16_t dataBits, double vref);

}  // namespace kt::dac
