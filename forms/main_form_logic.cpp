// SPDX-License-Identifier: MIT
#include "forms/main_form_logic.h"

#include "dac/power_down.h"
#include "forms/program.h"

namespace kt::forms {

void MainFormLogic::Form_Load() {
  view_.SelectOption(0);
  view_.FocusOption(0);
}

void MainFormLogic::Option_Click(std::size_t option) {
  const Busy busy(desktop_);
  dac::ChoosePowerDown(app_, view_, dac::kPowerDownModes.at(option).Code, send_);
}

void MainFormLogic::Command2_Click() {
  const Busy busy(desktop_);
  dac::RunUpdate(app_, view_, send_);
}

void MainFormLogic::Text1_KeyPress(std::int16_t& keyAscii) {
  if (keyAscii != 13) return;
  const Busy busy(desktop_);
  dac::RunUpdate(app_, view_, send_);
}

void MainFormLogic::Command1_Click() { dac::ToggleFormat(app_, view_); }

void MainFormLogic::MnuAbout_Click() { desktop_.ShowAbout(); }

void MainFormLogic::MnuExit_Click() { EndProgram(desktop_); }

void MainFormLogic::Form_Unload(int&) { EndProgram(desktop_); }

}  // namespace kt::forms
