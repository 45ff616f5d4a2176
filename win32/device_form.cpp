// SPDX-License-Identifier: MIT
#include "win32/device_form.h"

#include "dac/device_table.h"
#include "forms/design.h"
#include "win32/controls.h"
#include "win32/desktop.h"
#include "win32/look.h"

namespace kt::win32 {

namespace design = forms::design::device;

namespace {
constexpr int kOptionId = 101;  // Option1..Option5: 101..105
constexpr int kCommand1Id = 110;
}  // namespace

DeviceForm::DeviceForm(AppState& app) : logic_(app, TheBoard(), Windows(), *this) {
  Create(L"KT310.DeviceForm", design::kCaption, WS_OVERLAPPEDWINDOW, 0, design::kClient, nullptr,
         BlueBrush());
  HFONT font = SansSerif(design::kPoints);
  AddFrame(design::kFrame1, design::kFrame1Place, font);
  for (std::size_t row = 0; row < Option.size(); ++row) {
    Option[row] = Add(L"BUTTON", dac::DeviceTable[row].Label, OptionStyle(row == 0),
                      InFrame(design::kFrame1Place, design::OptionPlace(row)),
                      kOptionId + static_cast<int>(row), font);
  }
  Command1 = Add(L"BUTTON", design::kCommand1, ButtonStyle(true), design::kCommand1Place,
                 kCommand1Id, font);
  Form_Load();
}

void DeviceForm::Option_Click(std::size_t row) {
  if (row == selected_) return;  // only a change of selection is a click
  selected_ = row;
  logic_.Option_Click(row);
}

void DeviceForm::Command1_Click() {
  const KeepRunning keepRunning;  // between closing this window and opening the main one
  logic_.Command1_Click();
}

void DeviceForm::SelectOption(std::size_t row) {
  CheckOnly(Option, row);
  Option_Click(row);
}

void DeviceForm::FocusOption(std::size_t row) { Focus(Option.at(row)); }

void DeviceForm::Close() { DestroyWindow(Handle()); }

LRESULT DeviceForm::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COMMAND) return Window::Procedure(message, wParam, lParam);
  const int id = LOWORD(wParam);
  if (HIWORD(wParam) == BN_CLICKED && id >= kOptionId &&
      id < kOptionId + static_cast<int>(Option.size())) {
    Option_Click(static_cast<std::size_t>(id - kOptionId));
  } else if (HIWORD(wParam) == BN_CLICKED && id == kCommand1Id) {
    Command1_Click();
  }
  return 0;  // Enter and Esc (IDOK, IDCANCEL) press nothing here
}

}  // namespace kt::win32
