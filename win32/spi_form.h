// SPDX-License-Identifier: MIT
#pragma once

#include "core/app_state.h"
#include "forms/spi_form_logic.h"
#include "win32/window.h"

namespace kt::win32 {

/// @brief The diagnostic SPI test window: writes one raw frame of any length at a time; its
/// lamp shows whether the connection and firmware load succeeded.
class SPIForm : public Window, public forms::SpiView {
 public:
  explicit SPIForm(AppState& app);

  HWND Text2;  ///< bits in the frame
  HWND Command1;
  HWND Text1;  ///< frame data, hexadecimal
  HWND Label2;
  HWND Label1;

  void Form_Load() { logic_.Form_Load(); }
  void Command1_Click() { logic_.Command1_Click(); }
  void Form_Unload(int& cancel) { logic_.Form_Unload(cancel); }

  /// The lamp's (Shape1's) fill colour, 0x00BBGGRR.
  [[nodiscard]] unsigned LampColour() const { return logic_.LampColour(); }

  // forms::SpiView
  std::string BitsText() const override { return Text(Text2); }
  std::string DataText() const override { return Text(Text1); }
  void SetLamp(unsigned colour) override;
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    ShowMessage(text, style, caption);
  }
  void Close() override { PostMessageW(Handle(), WM_CLOSE, 0, 0); }

 protected:
  LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Paint(HDC dc) const override;

 private:
  forms::SpiFormLogic logic_;
  unsigned lamp_ = forms::design::kRed;
};

}  // namespace kt::win32
