// SPDX-License-Identifier: MIT
#include "link/board_link.h"
#include "link/boardio_binding.h"
#include "link/connection_steps.h"
#include "link/frame_request.h"
#include "link/path_buffer.h"
#include "platform/program.h"

namespace kt::link {

std::int16_t ConnectAndLoadFirmware(AppState& app) {
  return ConnectAndLoadFirmware(app, FirmwarePathIn(platform::ProgramFolder()));
}

std::int16_t ConnectAndLoadFirmware(AppState& app, const std::string& firmwarePath) {
  app.FirmwarePath = firmwarePath;
  FillPathBuffer(app.PathBuffer, app.FirmwarePath);
  RecordedConnectionSteps() = {};
  app.LinkStatus = BoardIo().InitLink(reinterpret_cast<char*>(app.PathBuffer.data()));
  RecordedConnectionSteps().Load = app.LinkStatus;
  return app.LinkStatus;
}

std::string BoardLibraryFile() { return BoardIo().Library().File(); }

#ifndef KT_SPI_TEST_FIRMWARE_PATH
#error "KT_SPI_TEST_FIRMWARE_PATH must name the SPI test window's firmware file"
#endif
const char* const kSpiTestFirmwarePath = KT_SPI_TEST_FIRMWARE_PATH;

std::int16_t ConnectSpiTest(AppState& app) {
  FillPathBuffer(app.PathBuffer, kSpiTestFirmwarePath);
  app.LinkStatus = BoardIo().InitLink(reinterpret_cast<char*>(app.PathBuffer.data()));
  return app.LinkStatus;
}

bool ConnectionSucceeded(std::int16_t status) { return status >= 0; }

void SendSpiWord(AppState& app, std::int16_t frameBits, std::int32_t word) {
  const FrameRequest request = PackFrame(frameBits, word);
  char buffer = 0;
  app.LinkStatus =
      BoardIo().LinkControl(kSpiFrameRequest, request.value, request.index, 0, 0, &buffer);
}

}  // namespace kt::link
