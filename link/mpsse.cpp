// SPDX-License-Identifier: MIT
#include "link/mpsse.h"

#include <algorithm>

namespace kt::link::mpsse {

namespace {

constexpr std::uint8_t kClockPin = 0x01;  // ADBUS0
constexpr std::uint8_t kDataPin = 0x02;   // ADBUS1

// The pins' levels with chip select high (idle) or low, and their directions.
std::uint8_t Levels(const Wiring& wiring, bool selected) {
  const auto select = static_cast<std::uint8_t>(1u << wiring.ChipSelect);
  return static_cast<std::uint8_t>((wiring.Mode >= 2 ? kClockPin : 0) | (selected ? 0 : select));
}

std::uint8_t Directions(const Wiring& wiring) {
  return static_cast<std::uint8_t>(kClockPin | kDataPin | (1u << wiring.ChipSelect));
}

// Data changes on the falling edge where the DAC takes it on the rising one: modes 0 and 3.
bool OutOnFalling(const Wiring& wiring) { return wiring.Mode == 0 || wiring.Mode == 3; }

}  // namespace

Clock ClockFor(std::uint32_t hz) {
  const std::uint32_t asked = std::max<std::uint32_t>(hz, 1);
  // The smallest divisor whose clock is not above the one asked for.
  const std::uint64_t divisor =
      std::min<std::uint64_t>((kFastestHz + asked - 1) / asked - 1, 0xFFFF);
  return {static_cast<std::uint16_t>(divisor),
          static_cast<double>(kFastestHz) / static_cast<double>(divisor + 1)};
}

std::vector<std::uint8_t> SetupCommands(const Wiring& wiring) {
  const Clock clock = ClockFor(wiring.Hz);
  return {kDivideBy5Off,
          kThreePhaseOff,
          kAdaptiveOff,
          kClockDivisor,
          static_cast<std::uint8_t>(clock.Divisor & 0xFF),
          static_cast<std::uint8_t>(clock.Divisor >> 8),
          kSetLowPins,
          Levels(wiring, false),
          Directions(wiring),
          kLoopbackOff};
}

bool AppendFrame(const Wiring& wiring, const Frame& frame, std::vector<std::uint8_t>& commands) {
  if (frame.Bits < 1 || frame.Bits > 32) return false;
  const auto word = static_cast<std::uint32_t>(frame.Word);
  const int bytes = frame.Bits / 8, bits = frame.Bits % 8;
  const bool falling = OutOnFalling(wiring);
  commands.insert(commands.end(), {kSetLowPins, Levels(wiring, true), Directions(wiring)});
  if (bytes > 0) {
    commands.insert(commands.end(), {falling ? kBytesOutFalling : kBytesOutRising,
                                     static_cast<std::uint8_t>(bytes - 1), 0});
    for (int i = 0; i < bytes; ++i)
      commands.push_back(static_cast<std::uint8_t>(word >> (frame.Bits - 8 * (i + 1))));
  }
  if (bits > 0) {
    // The last bits, at the top of their byte: the engine sends a byte's bits from bit 7 down.
    const auto last = static_cast<std::uint8_t>((word & ((1u << bits) - 1)) << (8 - bits));
    commands.insert(commands.end(), {falling ? kBitsOutFalling : kBitsOutRising,
                                     static_cast<std::uint8_t>(bits - 1), last});
  }
  commands.insert(commands.end(), {kSetLowPins, Levels(wiring, false), Directions(wiring)});
  return true;
}

void AppendIdle(std::uint64_t cycles, std::vector<std::uint8_t>& commands) {
  for (std::uint64_t bytes = cycles / 8; bytes > 0;) {
    const std::uint64_t now = std::min<std::uint64_t>(bytes, 0x10000);
    commands.insert(commands.end(), {kIdleBytes, static_cast<std::uint8_t>((now - 1) & 0xFF),
                                     static_cast<std::uint8_t>((now - 1) >> 8)});
    bytes -= now;
  }
  if (cycles % 8)
    commands.insert(commands.end(), {kIdleBits, static_cast<std::uint8_t>(cycles % 8 - 1)});
}

}  // namespace kt::link::mpsse
