// SPDX-License-Identifier: MIT
#include <array>

#include "link/board_link.h"
#include "link/boardlink_binding.h"
#include "link/connection_steps.h"
#include "link/frame_request.h"
#include "link/path_buffer.h"
#include "platform/program.h"

namespace kt::link {

std::int16_t ConnectBoard(AppState& app) {
  return ConnectBoard(app, FirmwarePathIn(platform::ProgramFolder()));
}

std::int16_t ConnectBoard(AppState& app, const std::string& firmwarePath) {
  std::array<std::uint8_t, 128> boards{};
  std::int32_t count = 0;
  BoardLinkBinding& library = BoardLink();
  // The search and connect results are not judged: without a board, byte 0 stays 0 and the
  // download's status tells the caller.
  // They are recorded for a diagnosis only.
  ConnectionSteps& steps = RecordedConnectionSteps();
  steps = {};
  steps.Search = library.Scan_Bus(kBoardVendorId, kBoardProductId, &count, boards.data());
  steps.Connect = library.Open_Link(kBoardVendorId, kBoardProductId, boards[0], &app.BoardHandle);
  app.FirmwarePath = firmwarePath;
  FillPathBuffer(app.PathBuffer, app.FirmwarePath);
  steps.Load = library.Load_Code(app.BoardHandle, reinterpret_cast<char*>(app.PathBuffer.data()));
  return steps.Load;
}

std::int16_t ConnectAndLoadFirmware(AppState& app) {
  return ConnectAndLoadFirmware(app, FirmwarePathIn(platform::ProgramFolder()));
}

std::int16_t ConnectAndLoadFirmware(AppState& app, const std::string& firmwarePath) {
  app.FirmwarePath = firmwarePath;
  FillPathBuffer(app.PathBuffer, app.FirmwarePath);
  app.LinkStatus = ConnectBoard(app, firmwarePath);
  return app.LinkStatus;
}

std::string BoardLibraryFile() { return BoardLink().Library().File(); }

std::int16_t ConnectSpiTest(AppState& app) { return ConnectAndLoadFirmware(app); }

bool ConnectionSucceeded(std::int16_t status) { return status == 0; }

void SendSpiWord(AppState& app, std::int16_t frameBits, std::int32_t word) {
  const FrameRequest request = PackFrame(frameBits, word);
  std::uint8_t buffer = 0;
  app.LinkStatus = BoardLink().Control_Transfer(app.BoardHandle, kSpiFrameRequest, request.value,
                                                request.index, 0, 0, &buffer);
}

}  // namespace kt::link
