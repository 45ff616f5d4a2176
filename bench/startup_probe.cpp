// SPDX-License-Identifier: MIT
// Starts as the program does and exits the moment the device window is on screen: the
// start-up benchmark times this process from its start to its end.
#include <QTest>

#include "qt/application.h"
#include "qt/device_form.h"
#include "qt/desktop.h"

int main(int argc, char** argv) {
  kt::ui::Application application(argc, argv, QStringLiteral("KT310(version2)"));
  kt::ui::Main(kt::link::ProgramBoard());
  return QTest::qWaitForWindowExposed(kt::ui::ExistingDeviceForm()) ? 0 : 1;
}
