// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>
#include <array>

#include "core/app_state.h"
#include "forms/device_form_logic.h"

class QGroupBox;
class QPushButton;
class QRadioButton;

namespace kt::ui {

/// @brief The device selection window: the five models, and OK to connect to the board.
class DeviceForm : public QWidget, public forms::DeviceView {
 public:
  explicit DeviceForm(AppState& app);

  QGroupBox* Frame1;
  QRadioButton* Option1;
  QRadioButton* Option2;
  QRadioButton* Option3;
  QRadioButton* Option4;
  QRadioButton* Option5;
  QPushButton* Command1;

  void Form_Load() { logic_.Form_Load(); }
  void Option1_Click() { logic_.Option_Click(0); }
  void Option2_Click() { logic_.Option_Click(1); }
  void Option3_Click() { logic_.Option_Click(2); }
  void Option4_Click() { logic_.Option_Click(3); }
  void Option5_Click() { logic_.Option_Click(4); }
  void Command1_Click();

  // forms::DeviceView
  void SelectOption(std::size_t row) override;
  void FocusOption(std::size_t row) override;
  void MsgBox(const std::string& text, int style, const std::string& caption) override;
  void Close() override { close(); }

 private:
  std::array<QRadioButton*, 5> Options() const;

  forms::DeviceFormLogic logic_;
};

}  // namespace kt::ui
