// SPDX-License-Identifier: MIT
#include "windows/application.h"

#include <exception>

#include "windows/look.h"
#include "windows/message_box.h"
#include "windows/program_end.h"

namespace kt::ui {

Application::Application(int& argc, char** argv, const QString& title) : QApplication(argc, argv) {
  setApplicationName(title);
  InstallFontSubstitutes();
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    // Exceptions must not cross Qt's event loop: report it as the program's end.
    MsgBox(nullptr, QStringLiteral("Run-time error: %1").arg(QString::fromUtf8(error.what())),
           kExclamation);
    EndProgram(kUntrappedErrorStatus);
    return true;
  }
}

}  // namespace kt::ui
