// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "core/app_state.h"
#include "forms/desktop.h"
#include "link/board.h"

namespace kt::forms {

/// @brief The SPI test window's controls as its handlers see them.
class SpiView : public FormView {
 public:
  [[nodiscard]] virtual std::string BitsText() const = 0;  ///< Text2
  [[nodiscard]] virtual std::string DataText() const = 0;  ///< Text1
  /// Fills the lamp (Shape1) with a 0x00BBGGRR colour.
  virtual void SetLamp(unsigned colour) = 0;
};

/// @brief What the SPI test window's handlers do: connect on load (the lamp), write raw
/// frames, and end the program when the window closes.
class SpiFormLogic {
 public:
  SpiFormLogic(AppState& app, link::Board& board, Desktop& desktop, SpiView& view)
      : app_(app), board_(board), desktop_(desktop), view_(view) {}

  /// Lamp red, connect and load the firmware, green on success. A run-time error on the way
  /// is shown in a box titled "Error"; the lamp stays red.
  void Form_Load();
  /// Sends the frame typed into the boxes. A length or data that do not fit their fields are
  /// shown in a box titled "Error", and nothing is sent.
  void Command1_Click();
  void Form_Unload(int& cancel);

  [[nodiscard]] unsigned LampColour() const { return lamp_; }

 private:
  void SetLamp(unsigned colour);

  AppState& app_;
  link::Board& board_;
  Desktop& desktop_;
  SpiView& view_;
  unsigned lamp_ = 0;
};

}  // namespace kt::forms
