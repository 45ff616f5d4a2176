// SPDX-License-Identifier: MIT
#include "forms/device_form_logic.h"

#include "core/error.h"
#include "dac/device_table.h"
#include "forms/program.h"
#include "link/board_link.h"

namespace kt::forms {

void DeviceFormLogic::Form_Load() {
  view_.SelectOption(0);
  view_.FocusOption(0);
}

void DeviceFormLogic::Option_Click(std::size_t row) {
  dac::SelectDevice(app_, dac::DeviceTable.at(row));
}

void DeviceFormLogic::Command1_Click() {
  std::int16_t status = 0;
  try {
    const Busy busy(desktop_);
    status = link::ConnectAndLoadFirmware(app_);
  } catch (const Error& error) {
    view_.MsgBox(TrappedErrorText(error), kExclamation, "Error");
    return;
  }
  if (!link::ConnectionSucceeded(status)) {
    view_.MsgBox(link::ConnectionFailureMessage(app_), kExclamation, "Error");
    return;
  }
  view_.Close();
  desktop_.ShowMainForm();
}

}  // namespace kt::forms
