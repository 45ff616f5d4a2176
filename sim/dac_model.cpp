// SPDX-License-Identifier: MIT
#include "sim/dac_model.h"

namespace kt::sim {

std::optional<Frame> DecodeRequest(std::int32_t value, std::int32_t index) {
  if (value < 0 || value > 0xFFFF) return std::nullopt;
  // C++20 shifts a negative value arithmetically: a negative frame length stays negative.
  return Frame{.Bits = index >> 8, .Word = ((index & 0xFF) << 16) | value};
}

bool DacModel::Apply(const Frame& frame) {
  int dataBits = 0;
  if (frame.Bits == 16)
    dataBits = 14;
  else if (frame.Bits == 24)
    dataBits = 16;
  else
    return false;
  code_ = frame.Word & ((1 << dataBits) - 1);
  powerDown_ = (frame.Word >> dataBits) & 3;
  return true;
}

}  // namespace kt::sim
