// SPDX-License-Identifier: MIT
#include "win32/desktop.h"

#include <memory>
#include <vector>

#include "forms/program.h"
#include "win32/about_form.h"
#include "win32/device_form.h"
#include "win32/look.h"
#include "win32/main_form.h"
#include "win32/spi_form.h"

namespace kt::win32 {

namespace {

std::unique_ptr<DeviceForm> deviceForm;
std::unique_ptr<MainForm> mainForm;
std::unique_ptr<SPIForm> spiForm;
std::unique_ptr<frmAbout> aboutForm;
// Instances whose windows are gone; deleted between messages, never inside a handler of
// their own.
std::vector<std::unique_ptr<Window>> retired;
int keepers = 0;

template <typename Form>
Form* Existing(const std::unique_ptr<Form>& form) {
  return form && form->Handle() ? form.get() : nullptr;
}

template <typename Form>
Form& Show(std::unique_ptr<Form>& form, bool centred) {
  if (!Existing(form)) {
    form = std::make_unique<Form>(App());
    if (centred) CentreOnScreen(form->Handle());
  }
  ShowWindow(form->Handle(), SW_SHOW);
  return *form;
}

bool AnyWindowOpen() {
  return Existing(deviceForm) || Existing(mainForm) || Existing(spiForm) || Existing(aboutForm);
}

void EndIfNothingOpen() {
  if (keepers == 0 && !AnyWindowOpen() && !forms::ProgramEnding()) PostQuitMessage(0);
}

template <typename Form>
void RetireIf(std::unique_ptr<Form>& form, const Window& window) {
  if (form.get() == &window) retired.push_back(std::move(form));
}

/// @brief The Win32 windows as the form logic reaches them.
class Win32Desktop : public forms::Desktop {
 public:
  void ShowDeviceForm() override { win32::ShowDeviceForm(); }
  void ShowMainForm() override { win32::ShowMainForm(); }
  void ShowSpiForm() override { win32::ShowSpiForm(); }
  void ShowAbout() override { win32::ShowAbout(); }
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    ShowMessageBox(nullptr, text, style, caption);
  }
  void SetBusy(bool busy) override {
    if (busy) {
      if (busyDepth_++ > 0) return;
      // The windows are drawn now, as the call that follows lets nothing else run.
      for (Window* window : std::initializer_list<Window*>{
               Existing(aboutForm), Existing(spiForm), Existing(mainForm), Existing(deviceForm)}) {
        if (window) UpdateWindow(window->Handle());
      }
      replaced_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    } else if (busyDepth_ > 0 && --busyDepth_ == 0) {
      SetCursor(replaced_);
    }
  }
  void Quit(int status) override {
    // Hiding, unlike closing, runs no window's close handling.
    for (Window* window : std::initializer_list<Window*>{
             Existing(aboutForm), Existing(spiForm), Existing(mainForm), Existing(deviceForm)}) {
      if (window) ShowWindow(window->Handle(), SW_HIDE);
    }
    // Ends every running message loop, a message box's too.
    PostQuitMessage(status);
  }

 private:
  int busyDepth_ = 0;
  HCURSOR replaced_ = nullptr;
};

Win32Desktop desktop;

// The top-level window of ours that a message is for, or nullptr.
HWND FormOf(const MSG& message) {
  if (!message.hwnd) return nullptr;
  HWND root = GetAncestor(message.hwnd, GA_ROOT);
  for (Window* window : std::initializer_list<Window*>{Existing(deviceForm), Existing(mainForm),
                                                       Existing(spiForm), Existing(aboutForm)}) {
    if (window && window->Handle() == root) return root;
  }
  return nullptr;
}

void Handle(MSG& message) {
  HWND form = FormOf(message);
  if (form && IsDialogMessageW(form, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

}  // namespace

forms::Desktop& Windows() { return desktop; }

void Main(link::Board& board) { forms::Main(board, desktop); }

void MainSpiTest(link::Board& board) { forms::MainSpiTest(board, desktop); }

DeviceForm& ShowDeviceForm() { return Show(deviceForm, true); }
MainForm& ShowMainForm() { return Show(mainForm, true); }
SPIForm& ShowSpiForm() { return Show(spiForm, false); }

frmAbout& ShowAbout() {
  if (!Existing(aboutForm)) {
    aboutForm = std::make_unique<frmAbout>();
    CentreOnScreen(aboutForm->Handle());
  }
  ShowWindow(aboutForm->Handle(), SW_SHOW);
  SetForegroundWindow(aboutForm->Handle());
  return *aboutForm;
}

DeviceForm* ExistingDeviceForm() { return Existing(deviceForm); }
MainForm* ExistingMainForm() { return Existing(mainForm); }
SPIForm* ExistingSpiForm() { return Existing(spiForm); }
frmAbout* ExistingAbout() { return Existing(aboutForm); }

KeepRunning::KeepRunning() { ++keepers; }

KeepRunning::~KeepRunning() {
  --keepers;
  EndIfNothingOpen();
}

void WindowGone(Window& window) {
  RetireIf(deviceForm, window);
  RetireIf(mainForm, window);
  RetireIf(spiForm, window);
  RetireIf(aboutForm, window);
  EndIfNothingOpen();
}

int RunMessageLoop() {
  MSG message{};
  for (;;) {
    retired.clear();
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    Handle(message);
  }
  retired.clear();
  return forms::ProgramEnding() ? forms::ProgramExitStatus() : static_cast<int>(message.wParam);
}

bool PumpMessages(int* status) {
  MSG message{};
  retired.clear();
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      if (status) *status = static_cast<int>(message.wParam);
      return false;
    }
    Handle(message);
    retired.clear();
  }
  return true;
}

void ResetForms() {
  aboutForm.reset();
  spiForm.reset();
  mainForm.reset();
  deviceForm.reset();
  retired.clear();
  MSG message{};
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  forms::ResetProgram();
}

}  // namespace kt::win32
