// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/frame.h"

// The command bytes of an FTDI high-speed chip's MPSSE engine (FT232H, FT2232H, FT4232H) for
// SPI: the clock, the pins, and a frame framed by its own chip select. What a USB write
// carries; knows no USB.
namespace kt::link::mpsse {

/// The engine's commands this program sends.
enum Command : std::uint8_t {
  kBytesOutRising = 0x10,   ///< clock bytes out, MSB first, changing on the rising edge
  kBytesOutFalling = 0x11,  ///< ... changing on the falling edge
  kBitsOutRising = 0x12,    ///< clock 1 to 8 bits out, MSB first, changing on the rising edge
  kBitsOutFalling = 0x13,   ///< ... changing on the falling edge
  kSetLowPins = 0x80,       ///< ADBUS0..7: levels, then directions (1: output)
  kReadLowPins = 0x81,      ///< answers ADBUS0..7's levels, once every command before has run
  kLoopbackOff = 0x85,
  kClockDivisor = 0x86,   ///< low byte, high byte
  kSendImmediate = 0x87,  ///< hand what was read to USB now
  kDivideBy5Off = 0x8A,   ///< a 60 MHz clock rather than 12 MHz
  kIdleBits = 0x8E,       ///< clock 1 to 8 cycles, no data
  kIdleBytes = 0x8F,      ///< clock 8 to 524,288 cycles (in bytes, low, high), no data
  kThreePhaseOff = 0x8D,
  kAdaptiveOff = 0x97,
  kBadCommand = 0xAA,  ///< not a command: the engine answers 0xFA and the byte
};

/// What the engine answers an unknown command with, before the command itself.
inline constexpr std::uint8_t kBadCommandReply = 0xFA;

/// The clock's bounds: 60 MHz / (2 (1 + divisor)), the divisor 0..65535.
inline constexpr std::uint32_t kFastestHz = 30'000'000;
inline constexpr std::uint32_t kSlowestHz = 458;  // 457.76 Hz, rounded up to a whole rate

/// @brief How the bridge drives the DAC: SPI mode 0..3, the clock asked for, and the ADBUS pin
/// of chip select (3..7; SCK is ADBUS0, MOSI ADBUS1, MISO ADBUS2).
struct Wiring {
  int Mode = 1;
  std::uint32_t Hz = 1'000'000;
  int ChipSelect = 3;
};

/// @brief The divisor for a clock, and the clock it gives: the fastest at or below the one
/// asked for, and 30 MHz at most.
struct Clock {
  std::uint16_t Divisor;
  double Hz;
};
Clock ClockFor(std::uint32_t hz);

/// The commands that set the engine up after MPSSE mode is entered: the 60 MHz clock, no
/// three-phase or adaptive clocking, the divisor, the pins idle (chip select high, the clock
/// at its mode's idle level, MOSI low) as outputs, and loopback off.
std::vector<std::uint8_t> SetupCommands(const Wiring& wiring);

/// Appends the commands of one frame: chip select low, its bits most significant first (the
/// whole bytes, then the bits left with the bit command) on the edge the mode asks, chip
/// select high. Frames of 1 to 32 bits; none for another length.
bool AppendFrame(const Wiring& wiring, const Frame& frame, std::vector<std::uint8_t>& commands);

/// Appends commands that run the clock `cycles` times with no data and chip select high: a
/// wait the engine times itself.
void AppendIdle(std::uint64_t cycles, std::vector<std::uint8_t>& commands);

}  // namespace kt::link::mpsse
