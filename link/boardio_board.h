// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "link/vendor_board.h"

namespace kt::link {

/// The first generation's fixed firmware path for the SPI test window, set at build time.
extern const char* const kSpiTestFirmwarePath;

/// @brief A board behind the first-generation library (BoardIO), which keeps the board
/// implicit: no search, no handle; reached through BoardIo().
class BoardIoBoard : public VendorBoard {
 public:
  [[nodiscard]] int Generation() const override { return 1; }
  [[nodiscard]] std::string LibraryFile() const override;
  [[nodiscard]] bool ConnectionSucceeded(std::int16_t status) const override { return status >= 0; }
  using VendorBoard::ConnectAndLoadFirmware;
  std::int16_t ConnectAndLoadFirmware(const std::string& firmwarePath) override;
  std::int16_t LoadSpiTestFirmware() override;

 protected:
  std::int16_t Transfer(const FrameRequest& request) override;
};

}  // namespace kt::link
