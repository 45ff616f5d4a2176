// SPDX-License-Identifier: MIT
#include "link/board.h"

#include "platform/process.h"
#include "platform/program.h"

namespace kt::link {

std::string FirmwarePathIn(const std::string& folder) {
  return folder + platform::kFolderSeparator + kFirmwareFileName;
}

std::string BoardLibraryFailureMessage(const std::string& reason) {
  return "The board library cannot be used.\n\n" + reason +
         "\n\nInstall the board maker's software for the evaluation board, which puts its "
         "library where this program looks for it, then try again.";
}

std::int16_t Board::ConnectAndLoadFirmware() {
  return ConnectAndLoadFirmware(FirmwarePathIn(platform::ProgramFolder()));
}

SentFrame Board::SendSpiWord(std::int16_t frameBits, std::int32_t word) {
  const FrameRequest request = PackFrame(frameBits, word);
  LinkStatus = Transfer(request);
  return {request, LinkStatus};
}

std::string Board::FailedConnectionStep() const {
  // The second generation's search and connection report 0 on success; the load is judged
  // by the generation's own rule.
  if (Steps.Search != 0) return "the board search returned " + std::to_string(Steps.Search);
  if (Steps.Connect != 0) return "the connection returned " + std::to_string(Steps.Connect);
  if (!ConnectionSucceeded(Steps.Load))
    return "the firmware load returned " + std::to_string(Steps.Load);
  return {};
}

std::string Board::MissingFirmwareHint() const {
  if (FirmwarePath.empty() || platform::FileExists(FirmwarePath)) return {};
  return "The firmware " + FirmwarePath + " is missing: put the board maker's SPI.hex there.";
}

std::string Board::ConnectionFailureMessage() const {
  std::string message = "Communication Failure - Check USB connections";
  if (const std::string hint = MissingFirmwareHint(); !hint.empty()) message += "\n\n" + hint;
  return message;
}

void Board::Reset() {
  LinkStatus = 0;
  FirmwarePath.clear();
  PathBuffer.fill(0);
  Steps = {};
}

}  // namespace kt::link
