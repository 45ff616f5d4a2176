// SPDX-License-Identifier: MIT
// The program: the device window, or with --spi-test the diagnostic SPI test window.
#include <windows.h>

// These need windows.h first.
#include <commctrl.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "forms/program.h"
#include "link/board_name.h"
#include "link/vendor_board.h"
#include "platform/dynamic_library.h"
#include "platform/program.h"
#include "win32/desktop.h"
#include "win32/look.h"

#ifndef KT_APPLICATION_TITLE
#error "KT_APPLICATION_TITLE must name the program"
#endif

namespace {

// Writes to standard output or error where the program has one (started from a console
// with its output taken, or by another program); a message box otherwise.
void Report(const std::string& text, DWORD stream) {
  HANDLE handle = GetStdHandle(stream);
  DWORD written = 0;
  if (handle && handle != INVALID_HANDLE_VALUE &&
      WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return;
  }
  kt::win32::ShowMessageBox(nullptr, text, kt::forms::kOkOnly, {});
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  kt::platform::RestrictLibrarySearch();
  kt::win32::SetApplicationTitle(KT_APPLICATION_TITLE);
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  const std::vector<std::string> arguments = kt::platform::ProgramArguments(0, nullptr);
  const kt::forms::Start start =
      kt::forms::ReadArguments({arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end()});
  const std::string program = arguments.empty() ? "kt310" : arguments[0];
  if (const auto answer = kt::forms::AnswerArguments(start, program, KT_APPLICATION_TITLE,
                                                     kt::link::ProgramBoard())) {
    Report(answer->Text, answer->ToError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    return answer->Status;
  }
  // Another board than the library's is the Linux programs' (IIO, spidev): said and ended
  // as for arguments it does not know.
  std::unique_ptr<kt::link::Board> made;
  kt::link::Board* board = &kt::link::ProgramBoard();
  try {
    board = &kt::link::ChooseBoard(start.Board, kt::link::ProgramBoard(), made);
  } catch (const kt::Error& error) {
    Report(program + ": " + error.what() + "\n", STD_ERROR_HANDLE);
    return kt::forms::kUsageStatus;
  }
  try {
    if (start.SpiTest) {
      kt::win32::MainSpiTest(*board);
    } else {
      kt::win32::Main(*board);
    }
  } catch (const std::exception& error) {
    kt::forms::EndOnUntrappedError(kt::win32::Windows(), error);
    return kt::forms::ProgramExitStatus();
  }
  return kt::win32::RunMessageLoop();
}
