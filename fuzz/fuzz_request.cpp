// SPDX-License-Identifier: MIT
// The board's request decoder on any value and index, and against the program's packing:
// every frame the program packs comes out of the board as the same length and low 24 bits.
#include <cstdlib>
#include <cstring>

#include "link/frame_request.h"
#include "sim/dac_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return -1;
  std::int32_t value = 0;
  std::int32_t index = 0;
  std::memcpy(&value, data, 4);
  std::memcpy(&index, data + 4, 4);

  const auto frame = kt::sim::DecodeRequest(value, index);
  if (frame.has_value() != (value >= 0 && value <= 0xFFFF)) std::abort();
  if (frame) {
    kt::sim::DacModel dac;
    if (dac.Apply(*frame) != (frame->Bits == 16 || frame->Bits == 24)) std::abort();
    if (dac.Code() && (*dac.Code() < 0 || *dac.Code() > 0xFFFF)) std::abort();
    if (dac.PowerDown() && (*dac.PowerDown() < 0 || *dac.PowerDown() > 3)) std::abort();
  }

  // The same eight bytes as a frame length and word the program sends.
  std::int16_t bits = 0;
  std::memcpy(&bits, data, 2);
  const kt::link::FrameRequest request = kt::link::PackFrame(bits, index);
  const auto decoded = kt::sim::DecodeRequest(request.value, request.index);
  if (!decoded || decoded->Bits != bits || decoded->Word != (index & 0xFFFFFF)) std::abort();
  return 0;
}
