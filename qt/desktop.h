// SPDX-License-Identifier: MIT
#pragma once

#include "core/app_state.h"
#include "forms/desktop.h"
#include "forms/program.h"
#include "link/board.h"

namespace kt::ui {

class DeviceForm;
class MainForm;
class SPIForm;
class frmAbout;

using forms::ProgramEnding;
using forms::ProgramExitStatus;

using forms::App;
using forms::TheBoard;

/// The program's windows, as the form logic reaches them.
forms::Desktop& Windows();

/// Start-up: the defaults, then the device window, shown modeless, over `board`.
void Main(link::Board& board);

/// The diagnostic start: the defaults, then the SPI test window in place of the device
/// window.
void MainSpiTest(link::Board& board);

/// Each window exists at most once: these create it the first time (which runs its load)
/// and show it; later calls show the same instance.
DeviceForm& ShowDeviceForm();
MainForm& ShowMainForm();
SPIForm& ShowSpiForm();
/// The About window is brought to the front while open and loaded afresh once closed.
frmAbout& ShowAbout();

/// The instances that exist, or nullptr.
DeviceForm* ExistingDeviceForm();
MainForm* ExistingMainForm();
SPIForm* ExistingSpiForm();
frmAbout* ExistingAbout();

/// Deletes every window and zero-fills App(), so that a test starts as the program does.
void ResetForms();

}  // namespace kt::ui
