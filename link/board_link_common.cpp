// SPDX-License-Identifier: MIT
#include "link/board_link.h"
#include "platform/process.h"
#include "platform/program.h"

namespace kt::link {

std::string FirmwarePathIn(const std::string& folder) {
  return folder + platform::kFolderSeparator + kFirmwareFileName;
}

std::string ConnectionFailureMessage(const AppState& app) {
  std::string message = "Communication Failure - Check USB connections";
  if (!app.FirmwarePath.empty() && !platform::FileExists(app.FirmwarePath)) {
    message += "\n\nThe firmware " + app.FirmwarePath +
               " is missing: put the board maker's SPI.hex there.";
  }
  return message;
}

}  // namespace kt::link
