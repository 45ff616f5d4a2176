// SPDX-License-Identifier: MIT
#include "forms/program.h"

#include "core/startup.h"
#include "link/board.h"
#include "platform/version.h"

namespace kt::forms {

namespace {
AppState appState;
link::Board* drivenBoard = nullptr;
bool ending = false;
int exitStatus = 0;
}  // namespace

AppState& App() { return appState; }

link::Board& TheBoard() { return *drivenBoard; }

void Main(link::Board& board, Desktop& desktop) {
  drivenBoard = &board;
  SetStartDefaults(appState);
  desktop.ShowDeviceForm();
}

void MainSpiTest(link::Board& board, Desktop& desktop) {
  drivenBoard = &board;
  SetStartDefaults(appState);
  desktop.ShowSpiForm();
}

Start ReadArguments(const std::vector<std::string>& arguments) {
  Start start;
  for (const std::string& argument : arguments) {
    if (argument == "--spi-test") {
      start.SpiTest = true;
    } else if (argument == "--help" || argument == "-h") {
      start.Help = true;
    } else if (argument == "--version") {
      start.Version = true;
    } else {
      start.Usage = true;
    }
  }
  return start;
}

std::string UsageText(const std::string& program) {
  return "usage: " + program +
         " [--spi-test]\n"
         "  --spi-test  open the diagnostic SPI test window instead of the device window\n"
         "  --version   print the version and the board library, then end\n"
         "  --help      print this text, then end\n";
}

std::string VersionLine(const std::string& title, const link::Board& board) {
  return title + " " + platform::ProgramFileVersion().Dotted() +
         (board.Generation() == 2 ? ", second" : ", first") + "-generation board library " +
         board.LibraryFile() + "\n";
}

void EndProgram(Desktop& desktop, int status) {
  if (ending) return;
  ending = true;
  exitStatus = status;
  desktop.Quit(status);
}

bool ProgramEnding() { return ending; }

int ProgramExitStatus() { return exitStatus; }

void ResetProgram() {
  appState = AppState{};
  if (drivenBoard) drivenBoard->Reset();
  ending = false;
  exitStatus = 0;
}

std::optional<Answer> AnswerArguments(const Start& start, const std::string& program,
                                      const std::string& title, const link::Board& board) {
  if (start.Help) return Answer{0, UsageText(program), false};
  if (start.Version) return Answer{0, VersionLine(title, board), false};
  if (start.Usage) return Answer{kUsageStatus, UsageText(program), true};
  return std::nullopt;
}

std::string TrappedErrorText(const Error& error) {
  if (error.cause() == Error::Cause::BoardLibrary)
    return link::BoardLibraryFailureMessage(error.what());
  return error.what();
}

void EndOnUntrappedError(Desktop& desktop, const std::exception& error) {
  desktop.MsgBox(std::string("Run-time error: ") + error.what(), kExclamation, {});
  EndProgram(desktop, kUntrappedErrorStatus);
}

}  // namespace kt::forms
