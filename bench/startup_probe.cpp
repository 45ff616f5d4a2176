// SPDX-License-Identifier: MIT
// Starts as the program does and exits once the device window is on screen, first reporting
// the moment it was: the start-up benchmark times this process from its start to that
// moment, and to its end.
#include <QTest>

#include "bench/moment.h"
#include "qt/application.h"
#include "qt/desktop.h"
#include "qt/device_form.h"

int main(int argc, char** argv) {
  kt::ui::Application application(argc, argv, QStringLiteral("KT310(version2)"));
  kt::ui::Main(kt::link::ProgramBoard());
  if (!QTest::qWaitForWindowExposed(kt::ui::ExistingDeviceForm())) return 1;
  kt::bench::ReportMoment();
  return 0;
}
