// SPDX-License-Identifier: MIT
#include "platform/terminal.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace kt::platform {

#ifdef _WIN32

bool IsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }

int StandardErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
  return 0;
}

#else

bool IsTerminal(std::FILE* file) { return isatty(fileno(file)) != 0; }

int StandardErrorColumns() {
  winsize size{};
  if (ioctl(fileno(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

#endif

}  // namespace kt::platform
