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
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--board" || argument.rfind("--board=", 0) == 0) {
      const bool joined = argument != "--board";
      if (!joined && i + 1 == arguments.size()) {
        start.Usage = true;
        start.Problem = "--board needs a value: " + std::string(link::kBoardUsage);
        continue;
      }
      const std::string value = joined ? argument.substr(8) : arguments[++i];
      try {
        start.Board = link::ReadBoardName(value);
        if (start.Board.Road == link::BoardName::Kind::Library)
          throw Error("it needs a value: " + std::string(link::kBoardUsage));
      } catch (const Error& error) {
        start.Usage = true;
        start.Problem = std::string("--board: ") + error.what();
      }
    } else if (argument == "--spi-test") {
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
         " [--spi-test] [--board BOARD]\n"
         "  --spi-test  open the diagnostic SPI test window instead of the device window\n"
         "  --board     drive a DAC other than through the evaluation board's library:\n"
         "              " +
         std::string(link::kBoardUsage) +
         "\n"
         "  --version   print the version and the board library, then end\n"
         "  --help      print this text, then end\n";
}

std::string VersionLine(const std::string& title, const link::VendorBoard& board) {
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
                                      const std::string& title, const link::VendorBoard& board) {
  if (start.Help) return Answer{0, UsageText(program), false};
  if (start.Version) return Answer{0, VersionLine(title, board), false};
  if (start.Usage)
    return Answer{
        kUsageStatus,
        (start.Problem.empty() ? "" : program + ": " + start.Problem + "\n") + UsageText(program),
        true};
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
