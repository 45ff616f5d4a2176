// SPDX-License-Identifier: MIT
// The program: the device window, or with --spi-test the diagnostic SPI test window.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "forms/program.h"
#include "link/board_name.h"
#include "link/vendor_board.h"
#include "qt/application.h"
#include "qt/desktop.h"

#ifndef KT_APPLICATION_TITLE
#error "KT_APPLICATION_TITLE must name the program"
#endif

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Whether Qt will find somewhere to show the windows: a display, or a platform the user chose.
bool HasDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0) return true;
  }
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version need no window, so they are answered before Qt starts; an unknown
  // argument only once Qt has taken its own options out.
  kt::link::VendorBoard& own = kt::link::ProgramBoard();
  const auto answer = [&](const kt::forms::Start& start) {
    return kt::forms::AnswerArguments(start, argv[0], KT_APPLICATION_TITLE, own);
  };
  if (const auto early = answer(kt::forms::ReadArguments({argv + 1, argv + argc}));
      early && !early->ToError) {
    std::fputs(early->Text.c_str(), stdout);
    return early->Status;
  }
  if (!HasDisplay(argc, argv)) {
    std::fprintf(stderr,
                 "%s: no display: the windows need an X11 or Wayland display "
                 "(DISPLAY or WAYLAND_DISPLAY)\n",
                 argv[0]);
    return 1;
  }
  // Qt takes its own options (-platform and the like) out of the arguments first.
  kt::ui::Application application(argc, argv, QStringLiteral(KT_APPLICATION_TITLE));
  const kt::forms::Start start = kt::forms::ReadArguments({argv + 1, argv + argc});
  if (const auto usage = answer(start)) {
    std::fputs(usage->Text.c_str(), usage->ToError ? stderr : stdout);
    return usage->Status;
  }
  std::unique_ptr<kt::link::Board> made;
  kt::link::Board* board = &own;
  try {
    board = &kt::link::ChooseBoard(start.Board, own, made);
  } catch (const kt::Error& error) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
    return kt::forms::kUsageStatus;
  }
  if (start.SpiTest) {
    kt::ui::MainSpiTest(*board);
  } else {
    kt::ui::Main(*board);
  }
  return kt::ui::Application::exec();
}
