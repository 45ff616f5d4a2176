// SPDX-License-Identifier: MIT
// The floor under the program's start-up, measured the same way: a Qt Widgets program with
// nothing of ours. With --main it reports the moment main is reached (the dynamic loader
// and Qt's libraries) and ends; without, it shows one label and reports the moment that
// window is exposed (the application object, the platform plugin, the font configuration,
// one text drawn), which any Qt program that shows text pays before its first window.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <cstring>

#include "bench/moment.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--main") == 0) {
    kt::bench::ReportMoment();
    return 0;
  }
  QApplication application(argc, argv);
  QLabel label(QStringLiteral("Normal"));
  label.show();
  if (!QTest::qWaitForWindowExposed(&label)) return 1;
  kt::bench::ReportMoment();
  return 0;
}
