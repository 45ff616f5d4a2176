// SPDX-License-Identifier: MIT
#pragma once

namespace kt::ui {

/// Ends the program at once: no further window event runs, no other window's close handling
/// either; every window is hidden and the event loop ends with the exit status.
void EndProgram(int status = 0);

/// Whether the program is ending; close handlers check it and do nothing then.
bool ProgramEnding();

/// The status EndProgram was given.
int ProgramExitStatus();

/// Lets a test that drove a program end start afresh.
void ResetProgramEnd();

}  // namespace kt::ui
