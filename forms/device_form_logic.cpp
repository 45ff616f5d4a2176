// SPDX-License-Identifier: MIT
#include "forms/device_form_logic.h"

#include "core/error.h"
#include "dac/device_table.h"
#include "forms/program.h"

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
    status = board_.ConnectAndLoadFirmware();
  } catch (const Error& error) {
    view_.MsgBox(TrappedErrorText(error), kExclamation, "Error");
    return;
  }
  if (!board_.ConnectionSucceeded(status)) {
    view_.MsgBox(board_.ConnectionFailureMessage(), kExclamation, "Error");
    return;
  }
  view_.Close();
  desktop_.ShowMainForm();
}

}  // namespace kt::forms
