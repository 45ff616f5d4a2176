// SPDX-License-Identifier: MIT
// The program: the device window, or with --spi-test the diagnostic SPI test window.

#include <cstdio>
#include <cstring>

#include "windows/application.h"
#include "windows/forms.h"

#ifndef KT_APPLICATION_TITLE
#error "KT_APPLICATION_TITLE must name the program"
#endif

int main(int argc, char** argv) {
  // Qt takes its own options (-platform and the like) out of the arguments first.
  kt::ui::Application application(argc, argv, QStringLiteral(KT_APPLICATION_TITLE));
  bool spiTest = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--spi-test") == 0) {
      spiTest = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--spi-test]\n"
                   "  --spi-test  open the diagnostic SPI test window instead of the device "
                   "window\n",
                   argv[0]);
      return 2;
    }
  }
  if (spiTest) {
    kt::ui::MainSpiTest();
  } else {
    kt::ui::Main();
  }
  return kt::ui::Application::exec();
}
