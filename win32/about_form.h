// SPDX-License-Identifier: MIT
#pragma once

#include "forms/about_form_logic.h"
#include "win32/window.h"

namespace kt::win32 {

/// @brief The About window: product, version, the maker's address, and the System
/// Information tool.
class frmAbout : public Window,  // NOLINT(readability-identifier-naming): the window's name
                 public forms::AboutView {
 public:
  frmAbout();

  HWND picIcon;
  HWND cmdOK;
  HWND cmdSysInfo;
  HWND Label1;
  HWND lblDescription;
  HWND lblTitle;
  HWND lblVersion;

  void Form_Load() { logic_.Form_Load(); }
  void cmdOK_Click() { logic_.cmdOK_Click(); }
  void cmdSysInfo_Click() { logic_.cmdSysInfo_Click(); }
  void StartSysInfo() { logic_.StartSysInfo(); }

  /// Where the window reads the registry: the system's, unless a test gives another.
  void UseRegistry(platform::Registry& registry) { logic_.UseRegistry(registry); }

  // forms::AboutView
  void SetVersionText(const std::string& text) override { SetText(lblVersion, text); }
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    ShowMessage(text, style, caption);
  }
  void Close() override { DestroyWindow(Handle()); }

 protected:
  LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Paint(HDC dc) const override;

 private:
  forms::AboutFormLogic logic_;
};

}  // namespace kt::win32
