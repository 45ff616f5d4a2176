// SPDX-License-Identifier: MIT
#include "forms/spi_form_logic.h"

#include "core/error.h"
#include "dac/raw_frame.h"
#include "forms/design.h"
#include "forms/program.h"

namespace kt::forms {

void SpiFormLogic::SetLamp(unsigned colour) {
  lamp_ = colour;
  view_.SetLamp(colour);
}

void SpiFormLogic::Form_Load() {
  SetLamp(design::kRed);
  try {
    const Busy busy(desktop_);
    if (board_.ConnectSpiTest()) SetLamp(design::kGreen);
  } catch (const Error& error) {
    view_.MsgBox(TrappedErrorText(error), kExclamation, "Error");
  }
}

void SpiFormLogic::Command1_Click() {
  // A value that does not fit, or a board library that cannot be used, is shown as the
  // load shows it; the window stays and nothing is sent.
  try {
    const dac::RawFrame frame = dac::ReadRawFrame(view_.BitsText(), view_.DataText());
    // A board that cannot send raw frames says so, and nothing is sent.
    if (const std::string refusal = board_.RawRefusal(frame.FrameBits); !refusal.empty()) {
      view_.MsgBox(refusal, kExclamation, "Error");
      return;
    }
    app_.FrameBits = frame.FrameBits;
    app_.DacWord = frame.Word;
    const Busy busy(desktop_);
    board_.SendRaw({app_.FrameBits, app_.DacWord});
  } catch (const Error& error) {
    view_.MsgBox(TrappedErrorText(error), kExclamation, "Error");
  }
}

void SpiFormLogic::Form_Unload(int&) { EndProgram(desktop_); }

}  // namespace kt::forms
