// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// An FTDI high-speed chip as the test bed plays it over usbdevfs: its control requests, and an
// MPSSE engine of the tests' own behind its bulk endpoints, which records each SPI frame.
namespace kt::test {

/// @brief What an FTDI chip in the bed is, and the faults it can play.
struct FtdiDevice {
  std::uint16_t Vid = 0x0403, Pid = 0x6014;
  std::uint16_t Release = 0x0900;  ///< bcdDevice: 0x0900 FT232H, 0x0700 FT2232H, 0x0600 FT232R
  std::string Serial = "FT0001";
  bool SerialInSysfs = true;  ///< false: only the chip's string descriptor gives it
  bool Mute = false;          ///< the engine never answers (a wrong device, a stuck engine)
  int VanishAfter = -1;       ///< once this many frames are in, the chip is gone (ENODEV)
  bool Stall = false;         ///< its bulk OUT endpoint is halted: every write stalls
  int ShortWrites = 0;        ///< a bulk OUT request takes at most this many bytes (0: all)
};

/// @brief The engine's side of the bulk endpoints: command bytes in, answers out, frames kept.
class MpsseEngine {
 public:
  /// Takes bytes written to the OUT endpoint (commands may be split across writes).
  void Write(const std::uint8_t* bytes, std::size_t size);
  /// What the IN endpoint hands back, at most `size` bytes.
  std::vector<std::uint8_t> Read(std::size_t size);

  /// What happened, in order: "frame 24 bits 001234, rising, 1000000 Hz", "bad AB",
  /// "pins 08/0B" (levels/directions of ADBUS), ...
  std::vector<std::string> Log;
  bool Mute = false;
  int Frames = 0;  ///< frames recorded so far

 private:
  void Run(const std::vector<std::uint8_t>& command);
  [[nodiscard]] std::size_t Needs(std::uint8_t command) const;

  std::vector<std::uint8_t> pending_;
  std::deque<std::uint8_t> answers_;
  bool divideBy5_ = true;
  std::uint16_t divisor_ = 0;
  std::uint8_t levels_ = 0, directions_ = 0;
  int selectPin_ = -1;  // the output pin 3..7 that went low, while a frame is on
  std::string bits_;    // clocked out while selected, '0'/'1'
  std::string edge_;
};

}  // namespace kt::test
