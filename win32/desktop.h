// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include "core/app_state.h"
#include "forms/desktop.h"
#include "forms/program.h"
#include "link/board.h"

namespace kt::win32 {

class DeviceForm;
class MainForm;
class SPIForm;
class frmAbout;
class Window;

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

/// The instances whose windows exist, or nullptr.
DeviceForm* ExistingDeviceForm();
MainForm* ExistingMainForm();
SPIForm* ExistingSpiForm();
frmAbout* ExistingAbout();

/// Runs the message loop until the program ends; returns its exit status. Keyboard
/// navigation (Tab, arrows, access keys, Enter and Esc) goes through IsDialogMessage.
int RunMessageLoop();

/// Handles the messages waiting now, as the loop would, and returns. Returns false once the
/// program has been asked to end (the loop's WM_QUIT), with its status in `status`.
bool PumpMessages(int* status = nullptr);

/// Holds the program open while it lives, although no window is open: the device window's
/// OK closes that window before it opens the main one.
class KeepRunning {
 public:
  KeepRunning();
  ~KeepRunning();
  KeepRunning(const KeepRunning&) = delete;
  KeepRunning& operator=(const KeepRunning&) = delete;
};

/// Called by a window when the system has destroyed it: the instance is let go once the
/// handler that runs now has returned, and the program ends when no window is left.
void WindowGone(Window& window);

/// Destroys every window, zero-fills App() and drops a pending end, so that a test starts
/// as the program does.
void ResetForms();

}  // namespace kt::win32
