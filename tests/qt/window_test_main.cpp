// SPDX-License-Identifier: MIT
// GoogleTest's main for the window tests: a QApplication on the offscreen platform. Test
// discovery runs this binary at build time without the tests' environment, so the platform
// is chosen here when nothing else chose it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "qt/application.h"
#include "tests/support/test_support.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  kt::ui::Application application(argc, argv, QString::fromUtf8(kt::test::ApplicationTitle()));
  return RUN_ALL_TESTS();
}
