// SPDX-License-Identifier: MIT
#include "link/board_link.h"
#include "link/connection_steps.h"
#include "platform/process.h"
#include "platform/program.h"

namespace kt::link {

std::string FirmwarePathIn(const std::string& folder) {
  return folder + platform::kFolderSeparator + kFirmwareFileName;
}

namespace {
ConnectionSteps steps;
}  // namespace

ConnectionSteps& RecordedConnectionSteps() { return steps; }

const ConnectionSteps& LastConnectionSteps() { return steps; }

std::string FailedConnectionStep() {
  // The second generation's search and connection report 0 on success; the load is judged
  // by the generation's own rule.
  if (steps.Search != 0) return "the board search returned " + std::to_string(steps.Search);
  if (steps.Connect != 0) return "the connection returned " + std::to_string(steps.Connect);
  if (!ConnectionSucceeded(steps.Load))
    return "the firmware load returned " + std::to_string(steps.Load);
  return {};
}

std::string MissingFirmwareHint(const AppState& app) {
  if (app.FirmwarePath.empty() || platform::FileExists(app.FirmwarePath)) return {};
  return "The firmware " + app.FirmwarePath + " is missing: put the board maker's SPI.hex there.";
}

std::string ConnectionFailureMessage(const AppState& app) {
  std::string message = "Communication Failure - Check USB connections";
  if (const std::string hint = MissingFirmwareHint(app); !hint.empty()) message += "\n\n" + hint;
  return message;
}

std::string BoardLibraryFailureMessage(const std::string& reason) {
  return "The board library cannot be used.\n\n" + reason +
         "\n\nInstall the board maker's software for the evaluation board, which puts its "
         "library where this program looks for it, then try again.";
}

}  // namespace kt::link
