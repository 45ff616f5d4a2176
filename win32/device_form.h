// SPDX-License-Identifier: MIT
#pragma once

#include <array>

#include "core/app_state.h"
#include "forms/device_form_logic.h"
#include "win32/window.h"

namespace kt::win32 {

/// @brief The device selection window: the five models, and OK to connect to the board.
class DeviceForm : public Window, public forms::DeviceView {
 public:
  explicit DeviceForm(AppState& app);

  std::array<HWND, 5> Option{};  ///< Option1..Option5
  HWND Command1;

  void Form_Load() { logic_.Form_Load(); }
  void Option_Click(std::size_t row);  ///< Option1_Click..Option5_Click
  void Command1_Click();

  // forms::DeviceView
  void SelectOption(std::size_t row) override;
  void FocusOption(std::size_t row) override;
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    ShowMessage(text, style, caption);
  }
  void Close() override;

 protected:
  LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  forms::DeviceFormLogic logic_;
  std::size_t selected_ = Option.size();  ///< none until the load selects one
};

}  // namespace kt::win32
