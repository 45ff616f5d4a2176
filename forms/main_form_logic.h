// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/app_state.h"
#include "dac/entry_logic.h"
#include "forms/desktop.h"
#include "link/board.h"

namespace kt::forms {

/// @brief The main window's controls as its handlers see them: the power-down options, and
/// the entry box and format button (dac::EntryView).
class MainView : public FormView, public dac::EntryView {
 public:
  /// Selects Option1..Option4 (0..3); a change of selection raises the option's click.
  virtual void SelectOption(std::size_t option) = 0;
  virtual void FocusOption(std::size_t option) = 0;
};

/// @brief What the main window's handlers do: each mode, the update (button and Enter), the
/// format switch, About, and the program's end by Exit or by closing the window.
class MainFormLogic {
 public:
  MainFormLogic(AppState& app, link::Board& board, Desktop& desktop, MainView& view)
      : app_(app), board_(board), desktop_(desktop), view_(view) {}

  void Form_Load();
  /// Option1_Click..Option4_Click: the power-down mode of that option.
  void Option_Click(std::size_t option);
  void Command2_Click();
  void Text1_KeyPress(std::int16_t& keyAscii);
  void Command1_Click();
  void MnuAbout_Click();
  void MnuExit_Click();
  /// The window is being closed: the program ends (unless it already is ending).
  void Form_Unload(int& cancel);

 private:
  AppState& app_;
  link::Board& board_;
  Desktop& desktop_;
  MainView& view_;
  /// The update's road to the board.
  const dac::FrameSender send_ = [this](const Frame& frame) { board_.Send(frame); };
};

}  // namespace kt::forms
