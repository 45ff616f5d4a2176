// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>

namespace kt::ui {

/// @brief The program's QApplication. A run-time error that no handler traps ends the
/// program with a message box that shows it, and a non-zero exit status.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv, const QString& title);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kt::ui
