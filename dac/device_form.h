// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>
#include <array>

#include "core/app_state.h"

class QGroupBox;
class QPushButton;
class QRadioButton;

namespace kt::ui {

/// @brief The device selection window: the five models, and OK to connect to the board.
class DeviceForm : public QWidget {
 public:
  explicit DeviceForm(AppState& app);

  QGroupBox* Frame1;
  QRadioButton* Option1;
  QRadioButton* Option2;
  QRadioButton* Option3;
  QRadioButton* Option4;
  QRadioButton* Option5;
  QPushButton* Command1;

  void Form_Load();
  void Option1_Click();
  void Option2_Click();
  void Option3_Click();
  void Option4_Click();
  void Option5_Click();
  void Command1_Click();

 private:
  void SelectRow(std::size_t row);

  AppState& app_;
};

}  // namespace kt::ui
