// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "link/vendor_board.h"

namespace kt::link {

/// @brief A board behind the second-generation library (CVR_BOARDLINK), which searches for
/// boards, connects and returns a handle; reached through BoardLink().
class BoardLinkBoard : public VendorBoard {
 public:
  [[nodiscard]] int Generation() const override { return 2; }
  [[nodiscard]] std::string LibraryFile() const override;
  [[nodiscard]] bool ConnectionSucceeded(std::int16_t status) const override { return status == 0; }
  using VendorBoard::ConnectAndLoadFirmware;
  std::int16_t ConnectAndLoadFirmware(const std::string& firmwarePath) override;
  std::int16_t LoadSpiTestFirmware() override { return ConnectAndLoadFirmware(); }
  void Reset() override;

  /// Searches for the board, connects to it, fills PathBuffer with the firmware path and
  /// has the firmware downloaded; returns the download status (0 is success). Writes
  /// BoardHandle (through the library), FirmwarePath and PathBuffer.
  std::int16_t ConnectBoard();
  /// ConnectBoard with the firmware file of the caller's choice.
  std::int16_t ConnectBoard(const std::string& firmwarePath);

  std::uint32_t BoardHandle = 0;  ///< opaque handle written by the library's Open_Link

 protected:
  std::int16_t Transfer(const FrameRequest& request) override;
};

}  // namespace kt::link
