// SPDX-License-Identifier: MIT
#include "link/boardlink_board.h"

#include <array>

#include "link/boardlink_binding.h"
#include "platform/program.h"

namespace kt::link {

std::string BoardLinkBoard::LibraryFile() const { return BoardLink().Library().File(); }

std::int16_t BoardLinkBoard::ConnectBoard() {
  return ConnectBoard(FirmwarePathIn(platform::ProgramFolder()));
}

std::int16_t BoardLinkBoard::ConnectBoard(const std::string& firmwarePath) {
  std::array<std::uint8_t, 128> boards{};
  std::int32_t count = 0;
  BoardLinkBinding& library = BoardLink();
  // The search and connect results are not judged: without a board, byte 0 stays 0 and the
  // download's status tells the caller. They are recorded for a diagnosis only.
  Steps = {};
  Steps.Search = library.Scan_Bus(kBoardVendorId, kBoardProductId, &count, boards.data());
  Steps.Connect = library.Open_Link(kBoardVendorId, kBoardProductId, boards[0], &BoardHandle);
  FirmwarePath = firmwarePath;
  FillPathBuffer(PathBuffer, FirmwarePath);
  Steps.Load = library.Load_Code(BoardHandle, reinterpret_cast<char*>(PathBuffer.data()));
  return Steps.Load;
}

std::int16_t BoardLinkBoard::ConnectAndLoadFirmware(const std::string& firmwarePath) {
  FirmwarePath = firmwarePath;
  FillPathBuffer(PathBuffer, FirmwarePath);
  LinkStatus = ConnectBoard(firmwarePath);
  return LinkStatus;
}

void BoardLinkBoard::Reset() {
  VendorBoard::Reset();
  BoardHandle = 0;
}

std::int16_t BoardLinkBoard::Transfer(const FrameRequest& request) {
  std::uint8_t buffer = 0;
  return BoardLink().Control_Transfer(BoardHandle, kSpiFrameRequest, request.value, request.index,
                                      0, 0, &buffer);
}

}  // namespace kt::link
