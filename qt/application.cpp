// SPDX-License-Identifier: MIT
#include "qt/application.h"

#include <exception>

#include "forms/program.h"
#include "qt/desktop.h"
#include "qt/look.h"

namespace kt::ui {

Application::Application(int& argc, char** argv, const QString& title) : QApplication(argc, argv) {
  setApplicationName(title);
  InstallFontSubstitutes();
  ApplyDesignLook();
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    // Exceptions must not cross Qt's event loop.
    forms::EndOnUntrappedError(Windows(), error);
    return true;
  }
}

}  // namespace kt::ui
