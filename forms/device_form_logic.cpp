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
  chosen_ = row;
}

void DeviceFormLogic::Command1_Click() {
  bool connected = false;
  try {
    const Busy busy(desktop_);
    const dac::DeviceProfile& device = dac::DeviceTable.at(chosen_);
    connected = board_.Connect(link::Model{device.Label, app_.FrameBits, app_.DataBits, {}});
  } catch (const Error& error) {
    view_.MsgBox(TrappedErrorText(error), kExclamation, "Error");
    return;
  }
  if (!connected) {
    view_.MsgBox(board_.ConnectionFailureMessage(), kExclamation, "Error");
    return;
  }
  view_.Close();
  desktop_.ShowMainForm();
}

}  // namespace kt::forms
