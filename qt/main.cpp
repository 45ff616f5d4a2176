// SPDX-License-Identifier: MIT
// The program: the device window, or with --spi-test the diagnostic SPI test window.

#include <cstdio>
#include <string>
#include <vector>

#include "forms/program.h"
#include "qt/application.h"
#include "qt/forms.h"

#ifndef KT_APPLICATION_TITLE
#error "KT_APPLICATION_TITLE must name the program"
#endif

int main(int argc, char** argv) {
  // Qt takes its own options (-platform and the like) out of the arguments first.
  kt::ui::Application application(argc, argv, QStringLiteral(KT_APPLICATION_TITLE));
  const kt::forms::Start start = kt::forms::ReadArguments({argv + 1, argv + argc});
  if (start.Usage) {
    std::fputs(kt::forms::UsageText(argv[0]).c_str(), stderr);
    return kt::forms::kUsageStatus;
  }
  if (start.SpiTest) {
    kt::ui::MainSpiTest();
  } else {
    kt::ui::Main();
  }
  return kt::ui::Application::exec();
}
