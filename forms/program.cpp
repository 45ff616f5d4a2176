// SPDX-License-Identifier: MIT
#include "forms/program.h"

#include "core/startup.h"

namespace kt::forms {

namespace {
bool ending = false;
int exitStatus = 0;
}  // namespace

void Main(AppState& app, Desktop& desktop) {
  SetStartDefaults(app);
  desktop.ShowDeviceForm();
}

void MainSpiTest(AppState& app, Desktop& desktop) {
  SetStartDefaults(app);
  desktop.ShowSpiForm();
}

Start ReadArguments(const std::vector<std::string>& arguments) {
  Start start;
  for (const std::string& argument : arguments) {
    if (argument == "--spi-test") {
      start.SpiTest = true;
    } else {
      start.Usage = true;
    }
  }
  return start;
}

std::string UsageText(const std::string& program) {
  return "usage: " + program +
         " [--spi-test]\n"
         "  --spi-test  open the diagnostic SPI test window instead of the device window\n";
}

void EndProgram(Desktop& desktop, int status) {
  if (ending) return;
  ending = true;
  exitStatus = status;
  desktop.Quit(status);
}

bool ProgramEnding() { return ending; }

int ProgramExitStatus() { return exitStatus; }

void ResetProgramEnd() {
  ending = false;
  exitStatus = 0;
}

void EndOnUntrappedError(Desktop& desktop, const std::exception& error) {
  desktop.MsgBox(std::string("Run-time error: ") + error.what(), kExclamation, {});
  EndProgram(desktop, kUntrappedErrorStatus);
}

}  // namespace kt::forms
