// SPDX-License-Identifier: MIT
#include "qt/desktop.h"

#include <QApplication>
#include <QPointer>

#include "qt/about_form.h"
#include "qt/device_form.h"
#include "qt/look.h"
#include "qt/main_form.h"
#include "qt/message_box.h"
#include "qt/spi_form.h"

namespace kt::ui {

namespace {

QPointer<DeviceForm> deviceForm;
QPointer<MainForm> mainForm;
QPointer<SPIForm> spiForm;
QPointer<frmAbout> aboutForm;

template <typename Form>
Form& Show(QPointer<Form>& instance, bool centred) {
  if (!instance) {
    instance = new Form(App());
    if (centred) CentreOnScreen(*instance);
  }
  instance->show();
  return *instance;
}

/// @brief The Qt windows as the form logic reaches them.
class QtDesktop : public forms::Desktop {
 public:
  void ShowDeviceForm() override { ui::ShowDeviceForm(); }
  void ShowMainForm() override { ui::ShowMainForm(); }
  void ShowSpiForm() override { ui::ShowSpiForm(); }
  void ShowAbout() override { ui::ShowAbout(); }
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    ui::MsgBox(nullptr, text, style, caption);
  }
  void SetBusy(bool busy) override {
    if (!busy) {
      QApplication::restoreOverrideCursor();
      return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Lets the windows repaint and the cursor reach the display before the call blocks;
    // the user's input waits until the call is done.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  void Quit(int status) override {
    // Hiding, unlike closing, runs no window's close handler.
    for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
    // Leaves every running event loop, also a message box's.
    QCoreApplication::exit(status);
  }
};

QtDesktop desktop;

}  // namespace

forms::Desktop& Windows() { return desktop; }

void Main(link::Board& board) { forms::Main(board, desktop); }

void MainSpiTest(link::Board& board) { forms::MainSpiTest(board, desktop); }

DeviceForm& ShowDeviceForm() { return Show(deviceForm, true); }
MainForm& ShowMainForm() { return Show(mainForm, true); }
SPIForm& ShowSpiForm() { return Show(spiForm, false); }

frmAbout& ShowAbout() {
  if (!aboutForm) {
    aboutForm = new frmAbout();
    aboutForm->setAttribute(Qt::WA_DeleteOnClose);
    CentreOnScreen(*aboutForm);
  }
  aboutForm->show();
  aboutForm->raise();
  aboutForm->activateWindow();
  return *aboutForm;
}

DeviceForm* ExistingDeviceForm() { return deviceForm; }
MainForm* ExistingMainForm() { return mainForm; }
SPIForm* ExistingSpiForm() { return spiForm; }
frmAbout* ExistingAbout() { return aboutForm; }

void ResetForms() {
  delete aboutForm.data();
  delete spiForm.data();
  delete mainForm.data();
  delete deviceForm.data();
  forms::ResetProgram();
}

}  // namespace kt::ui
