// SPDX-License-Identifier: MIT
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/error.h"
#include "forms/desktop.h"
#include "link/board.h"
#include "link/board_name.h"
#include "link/vendor_board.h"

// Start-up, the program's arguments, and the end of the program, the same for both front
// ends.
namespace kt::forms {

/// The program's one AppState, zero-filled until Main sets the defaults.
AppState& App();

/// The board the windows drive, as Main or MainSpiTest was given it.
link::Board& TheBoard();

/// Start-up over `board`: the defaults, then the device window, shown modeless.
void Main(link::Board& board, Desktop& desktop);

/// The diagnostic start: the defaults, then the SPI test window in place of the device window.
void MainSpiTest(link::Board& board, Desktop& desktop);

/// @brief What the program was asked to do by its arguments (argv[0] not included).
struct Start {
  bool SpiTest = false;  ///< --spi-test: the SPI test window instead of the device window
  link::BoardName
      Board;          ///< --board: the board to drive; the build's own library board when not given
  bool Help = false;  ///< --help: print UsageText to standard output and end with 0
  bool Version = false;  ///< --version: print VersionLine to standard output and end with 0
  bool Usage = false;    ///< anything else: print UsageText and end with kUsageStatus
  std::string Problem;   ///< what was wrong with the arguments, said before the usage
};
Start ReadArguments(const std::vector<std::string>& arguments);

/// The exit status of a program given arguments it does not know.
inline constexpr int kUsageStatus = 2;

/// The usage text for the program of that name (argv[0]), one line per option.
std::string UsageText(const std::string& program);

/// The program's name, its file version, and the board library it binds, in one line.
std::string VersionLine(const std::string& title, const link::VendorBoard& board);

/// @brief What the arguments alone answer, without a window: a text and where it goes.
struct Answer {
  int Status;
  std::string Text;
  bool ToError;  ///< standard error, not standard output
};

/// --help: the usage to standard output (status 0); --version: the version line to standard
/// output (status 0); anything else unknown: the usage to standard error (kUsageStatus).
/// Nothing when the windows are to open. `program` is the name the usage shows (argv[0]).
std::optional<Answer> AnswerArguments(const Start& start, const std::string& program,
                                      const std::string& title, const link::VendorBoard& board);

/// Ends the program at once with `status`: no further window event runs, no other window's
/// close handling either. A second call while ending does nothing.
void EndProgram(Desktop& desktop, int status = 0);

/// Whether the program is ending, and with which status.
bool ProgramEnding();
int ProgramExitStatus();

/// Zero-fills App(), takes the board back to before any connection and drops a pending end,
/// so that a test that drove the program starts afresh, as the program does.
void ResetProgram();

/// The text of the box that shows a trapped run-time error: for the board library, what the
/// user can do about it as well.
std::string TrappedErrorText(const Error& error);

/// What becomes of a run-time error that no handler trapped: a message box that shows it,
/// then the end of the program with kUntrappedErrorStatus.
void EndOnUntrappedError(Desktop& desktop, const std::exception& error);

}  // namespace kt::forms
