// SPDX-License-Identifier: MIT
#include "windows/forms.h"

#include <QPointer>

#include "core/startup.h"
#include "dac/device_form.h"
#include "dac/main_form.h"
#include "windows/about_form.h"
#include "windows/look.h"
#include "windows/program_end.h"
#include "windows/spi_form.h"

namespace kt::ui {

namespace {

AppState state;
QPointer<DeviceForm> deviceForm;
QPointer<MainForm> mainForm;
QPointer<SPIForm> spiForm;
QPointer<frmAbout> aboutForm;

template <typename Form>
Form& Show(QPointer<Form>& instance, bool centred) {
  if (!instance) {
    instance = new Form(state);
    if (centred) CentreOnScreen(*instance);
  }
  instance->show();
  return *instance;
}

}  // namespace

AppState& App() { return state; }

void Main() {
  SetStartDefaults(state);
  ShowDeviceForm();
}

void MainSpiTest() {
  SetStartDefaults(state);
  ShowSpiForm();
}

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
  state = AppState{};
  ResetProgramEnd();
}

}  // namespace kt::ui
