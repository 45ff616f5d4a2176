// SPDX-License-Identifier: MIT
#include "link/board_link.h"
#include "link/boardio_binding.h"
#include "link/frame_request.h"
#include "link/path_buffer.h"
#include "platform/program.h"

namespace kt::link {

std::int16_t ConnectAndLoadFirmware(AppState& app) {
  app.FirmwarePath = FirmwarePathIn(platform::ProgramFolder());
  FillPathBuffer(app.PathBuffer, app.FirmwarePath);
  app.LinkStatus = BoardIo().InitLink(reinterpret_cast<char*>(app.PathBuffer.data()));
  return app.LinkStatus;
}

std::string BoardLibraryFile() { return BoardIo().Library().File(); }

bool ConnectionSucceeded(std::int16_t status) { return status >= 0; }

void SendSpiWord(AppState& app, std::int16_t frameBits, std::int32_t word) {
  const FrameRequest request = PackFrame(frameBits, word);
  char buffer = 0;
  app.LinkStatus =
      BoardIo().LinkControl(kSpiFrameRequest, request.value, request.index, 0, 0, &buffer);
}

}  // namespace kt::link
