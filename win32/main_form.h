// SPDX-License-Identifier: MIT
#pragma once

#include <array>

#include "core/app_state.h"
#include "forms/main_form_logic.h"
#include "win32/window.h"

namespace kt::win32 {

/// @brief The main control window: power-down mode, DAC code entry and the update.
class MainForm : public Window, public forms::MainView {
 public:
  explicit MainForm(AppState& app);

  std::array<HWND, 4> Option{};  ///< Option1..Option4: Normal, 100 kOhm, Tri - State, 1 kOhm
  HWND Command2;                 ///< "Update DAC"
  HWND Text1;                    ///< the entry box
  HWND Command1;                 ///< the format button, "Hex" or "Dec"
  HMENU MnuFile;

  /// Menu command identifiers, as WM_COMMAND carries them.
  static constexpr int kMnuAbout = 201;
  static constexpr int kMnuExit = 202;

  void Form_Load() { logic_.Form_Load(); }
  void Option_Click(std::size_t option);  ///< Option1_Click..Option4_Click
  void Command2_Click() { logic_.Command2_Click(); }
  void Text1_KeyPress(std::int16_t& keyAscii) { logic_.Text1_KeyPress(keyAscii); }
  void Command1_Click() { logic_.Command1_Click(); }
  void MnuAbout_Click() { logic_.MnuAbout_Click(); }
  void MnuExit_Click() { logic_.MnuExit_Click(); }
  void Form_Unload(int& cancel) { logic_.Form_Unload(cancel); }

  // forms::MainView
  void SelectOption(std::size_t option) override;
  void FocusOption(std::size_t option) override;
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    ShowMessage(text, style, caption);
  }
  void Close() override;
  std::string EntryText() const override;
  void SetEntryText(const std::string& text) override;
  void FocusEntry() override;
  std::string FormatCaption() const override;
  void SetFormatCaption(const std::string& caption) override;

 protected:
  LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  static LRESULT CALLBACK Text1Procedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR form);

  forms::MainFormLogic logic_;
  std::size_t selected_ = Option.size();  ///< none until the load selects one
};

}  // namespace kt::win32
