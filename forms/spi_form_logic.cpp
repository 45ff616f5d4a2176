// SPDX-License-Identifier: MIT
#include "forms/spi_form_logic.h"

#include "core/error.h"
#include "dac/raw_frame.h"
#include "forms/design.h"
#include "forms/program.h"
#include "link/board_link.h"

namespace kt::forms {

void SpiFormLogic::SetLamp(unsigned colour) {
  lamp_ = colour;
  view_.SetLamp(colour);
}

void SpiFormLogic::Form_Load() {
  SetLamp(design::kRed);
  try {
    if (link::ConnectionSucceeded(link::ConnectSpiTest(app_))) SetLamp(design::kGreen);
  } catch (const Error& error) {
    view_.MsgBox(error.what(), kExclamation, "Error");
  }
}

void SpiFormLogic::Command1_Click() {
  dac::RawFrame frame{};
  try {
    frame = dac::ReadRawFrame(view_.BitsText(), view_.DataText());
  } catch (const Error& error) {
    view_.MsgBox(error.what(), kExclamation, "Error");
    return;
  }
  app_.FrameBits = frame.FrameBits;
  app_.DacWord = frame.Word;
  link::SendSpiWord(app_, app_.FrameBits, app_.DacWord);
}

void SpiFormLogic::Form_Unload(int&) { EndProgram(desktop_); }

}  // namespace kt::forms
