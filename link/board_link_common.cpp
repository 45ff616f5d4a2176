// SPDX-License-Identifier: MIT
#include "link/board_link.h"
#include "platform/program.h"

namespace kt::link {

std::string FirmwarePathIn(const std::string& folder) {
  return folder + platform::kFolderSeparator + kFirmwareFileName;
}

}  // namespace kt::link
