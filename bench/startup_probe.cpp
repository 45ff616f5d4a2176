// SPDX-License-Identifier: MIT
// Starts as the program does and exits once the device window is on screen, first writing
// to standard output the moment it was (CLOCK_MONOTONIC, nanoseconds): the start-up
// benchmark times this process from its start to that moment, and to its end.
#include <QTest>
#include <cstdio>
#include <ctime>

#include "qt/application.h"
#include "qt/desktop.h"
#include "qt/device_form.h"

int main(int argc, char** argv) {
  kt::ui::Application application(argc, argv, QStringLiteral("KT310(version2)"));
  kt::ui::Main(kt::link::ProgramBoard());
  if (!QTest::qWaitForWindowExposed(kt::ui::ExistingDeviceForm())) return 1;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
  return 0;
}
