// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cctype>
#include <cmath>
#include <locale>
#include <sstream>

#include "dac/device_table.h"
#include "dac/entry_logic.h"
#include "dac/power_down.h"

namespace kt::dac {

namespace {

bool SameLetters(std::string_view typed, std::string_view known) {
  return typed.size() == known.size() &&
         std::equal(typed.begin(), typed.end(), known.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

}  // namespace

const DeviceProfile* FindDevice(std::string_view label) {
  for (const auto& device : DeviceTable)
    if (SameLetters(label, device.Label)) return &device;
  return nullptr;
}

Frame DeviceFrame(const DeviceProfile& device, std::int32_t powerDownCode, std::int32_t code) {
  return {device.FrameBits, ComposeFrameWord(device.DataBits, powerDownCode, code)};
}

std::optional<DeviceWord> ReadDeviceFrame(const Frame& frame) {
  for (const auto& device : DeviceTable) {
    if (device.FrameBits != frame.Bits) continue;
    const auto word = static_cast<std::uint32_t>(frame.Word);
    if (word >> (device.DataBits + 2) != 0) return std::nullopt;
    return DeviceWord{
        device.DataBits, static_cast<std::int32_t>(word >> device.DataBits),
        static_cast<std::int32_t>(word & static_cast<std::uint32_t>(LastCode(device)))};
  }
  return std::nullopt;
}

double IdealVolts(std::int32_t code, std::int16_t dataBits, double vref) {
  return vref * code / std::ldexp(1.0, dataBits);
}

const PowerDownMode* PowerDownByCode(std::int32_t code) {
  for (const auto& mode : kPowerDownModes)
    if (mode.Code == code) return &mode;
  return nullptr;
}

const PowerDownMode* PowerDownByName(std::string_view name) {
  for (const auto& mode : kPowerDownModes)
    if (SameLetters(name, mode.Name) || (*mode.IioName && SameLetters(name, mode.IioName)))
      return &mode;
  return nullptr;
}

std::string ReferenceRefusal(double volts, const std::string& source) {
  std::ostringstream why;
  why.imbue(std::locale::classic());
  why << source;
  if (!(volts > 0))  // NaN too
    why << " is not a positive voltage";
  else if (volts > kMaxReferenceVolts)  // infinity too
    why << " is beyond " << kMaxReferenceVolts << " V";
  else if (volts < kMinReferenceVolts)
    why << " is below " << kMinReferenceVolts << " V, the least reference a DAC has";
  else
    return {};
  return why.str();
}

}  // namespace kt::dac
