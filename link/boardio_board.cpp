// SPDX-License-Identifier: MIT
#include "link/boardio_board.h"

#include "link/boardio_binding.h"

namespace kt::link {

#ifndef KT_SPI_TEST_FIRMWARE_PATH
#error "KT_SPI_TEST_FIRMWARE_PATH must name the SPI test window's firmware file"
#endif
const char* const kSpiTestFirmwarePath = KT_SPI_TEST_FIRMWARE_PATH;

std::string BoardIoBoard::LibraryFile() const { return BoardIo().Library().File(); }

std::int16_t BoardIoBoard::ConnectAndLoadFirmware(const std::string& firmwarePath) {
  FirmwarePath = firmwarePath;
  FillPathBuffer(PathBuffer, FirmwarePath);
  Steps = {};
  LinkStatus = BoardIo().InitLink(reinterpret_cast<char*>(PathBuffer.data()));
  Steps.Load = LinkStatus;
  return LinkStatus;
}

std::int16_t BoardIoBoard::LoadSpiTestFirmware() {
  FillPathBuffer(PathBuffer, kSpiTestFirmwarePath);
  LinkStatus = BoardIo().InitLink(reinterpret_cast<char*>(PathBuffer.data()));
  return LinkStatus;
}

std::int16_t BoardIoBoard::Transfer(const FrameRequest& request) {
  char buffer = 0;
  return BoardIo().LinkControl(kSpiFrameRequest, request.value, request.index, 0, 0, &buffer);
}

}  // namespace kt::link
