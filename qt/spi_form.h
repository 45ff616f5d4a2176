// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include "core/app_state.h"
#include "forms/spi_form_logic.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kt::ui {

/// @brief The diagnostic SPI test window: writes one raw frame of any length at a time; its
/// lamp shows whether the connection and firmware load succeeded.
class SPIForm : public QWidget, public forms::SpiView {
 public:
  explicit SPIForm(AppState& app);

  QLineEdit* Text2;  ///< bits in the frame
  QPushButton* Command1;
  QLineEdit* Text1;  ///< frame data, hexadecimal
  QFrame* Shape1;    ///< the connection lamp
  QLabel* Label2;
  QLabel* Label1;

  void Form_Load() { logic_.Form_Load(); }
  void Command1_Click() { logic_.Command1_Click(); }
  void Form_Unload(int& cancel) { logic_.Form_Unload(cancel); }

  /// The lamp's fill colour, 0x00BBGGRR.
  [[nodiscard]] unsigned LampColour() const { return logic_.LampColour(); }

  // forms::SpiView
  std::string BitsText() const override;
  std::string DataText() const override;
  void SetLamp(unsigned colour) override;
  void MsgBox(const std::string& text, int style, const std::string& caption) override;
  void Close() override { close(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  forms::SpiFormLogic logic_;
};

}  // namespace kt::ui
