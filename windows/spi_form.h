// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include "core/app_state.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kt::ui {

/// @brief The diagnostic SPI test window: writes one raw frame of any length at a time; its
/// lamp shows whether the connection and firmware load succeeded.
class SPIForm : public QWidget {
 public:
  explicit SPIForm(AppState& app);

  QLineEdit* Text2;  ///< bits in the frame
  QPushButton* Command1;
  QLineEdit* Text1;  ///< frame data, hexadecimal
  QFrame* Shape1;    ///< the connection lamp
  QLabel* Label2;
  QLabel* Label1;

  void Form_Load();
  void Command1_Click();
  void Form_Unload(int& cancel);

  /// The lamp's fill colour, 0x00BBGGRR.
  [[nodiscard]] unsigned LampColour() const { return lampColour_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void SetLamp(unsigned colour);

  AppState& app_;
  unsigned lampColour_ = 0;
};

}  // namespace kt::ui
