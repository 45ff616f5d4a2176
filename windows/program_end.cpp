// SPDX-License-Identifier: MIT
#include "windows/program_end.h"

#include <QApplication>
#include <QWidget>

namespace kt::ui {

namespace {
bool ending = false;
int exitStatus = 0;
}  // namespace

void EndProgram(int status) {
  if (ending) return;
  ending = true;
  exitStatus = status;
  // Hiding, unlike closing, runs no window's close handler.
  for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
  // Leaves every running event loop, also a message box's.
  QCoreApplication::exit(status);
}

bool ProgramEnding() { return ending; }

int ProgramExitStatus() { return exitStatus; }

void ResetProgramEnd() {
  ending = false;
  exitStatus = 0;
}

}  // namespace kt::ui
