// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>

#include "core/app_state.h"
#include "forms/desktop.h"
#include "link/board.h"

namespace kt::forms {

/// @brief The device window's controls as its handlers see them.
class DeviceView : public FormView {
 public:
  /// Selects Option1..Option5 (0..4). Selecting an option that was not selected raises its
  /// click handler, as a user's selection does.
  virtual void SelectOption(std::size_t row) = 0;
  virtual void FocusOption(std::size_t row) = 0;
};

/// @brief What the device window's handlers do: the model choice, and OK, which connects and
/// loads the firmware, then either warns and stays or hands over to the main window.
class DeviceFormLogic {
 public:
  DeviceFormLogic(AppState& app, link::Board& board, Desktop& desktop, DeviceView& view)
      : app_(app), board_(board), desktop_(desktop), view_(view) {}

  void Form_Load();
  /// Option1_Click..Option5_Click: the row of the device table.
  void Option_Click(std::size_t row);
  /// OK: connects the board for the model chosen. A run-time error on the way (no library,
  /// no entry, a path that does not fit) is shown in a box titled "Error" and the window
  /// stays, as after a failed connection.
  void Command1_Click();

 private:
  AppState& app_;
  link::Board& board_;
  Desktop& desktop_;
  DeviceView& view_;
  std::size_t chosen_ = 0;  // the row of the model last chosen
};

}  // namespace kt::forms
